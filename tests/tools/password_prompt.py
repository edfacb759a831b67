#!/usr/bin/env python3
"""norva-db's password prompt on a terminal of its own: the typing is hidden
while it waits, and Ctrl-C there ends the program with the terminal's echo
back on.
  password_prompt.py NORVA-DB   (NORVA_TEST_PG: a server that asks a password)"""
import os, select, signal, sys, termios, time

norva_db, server = sys.argv[1], os.environ["NORVA_TEST_PG"]
master, terminal = os.openpty()
child = os.fork()
if child == 0:
    os.close(master)
    os.login_tty(terminal)
    os.environ["PGPASSFILE"] = "/nonexistent"  # none of libpq's own means gives the password
    os.execv(norva_db, [norva_db, "check", server])

def echoing():
    return bool(termios.tcgetattr(terminal)[3] & termios.ECHO)

shown, deadline = b"", time.time() + 30
while "パスワード".encode() not in shown and time.time() < deadline:
    if select.select([master], [], [], 1)[0]:
        shown += os.read(master, 1024)
assert "パスワード".encode() in shown, shown
while echoing() and time.time() < deadline:  # the prompt comes first, then the echo goes
    time.sleep(0.05)
assert not echoing(), "the prompt shows what is typed"
os.write(master, b"\x03")
_, status = os.waitpid(child, 0)
assert os.WIFSIGNALED(status) and os.WTERMSIG(status) == signal.SIGINT, status
assert echoing(), "Ctrl-C at the prompt left the terminal without its echo"
