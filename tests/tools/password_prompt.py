#!/usr/bin/env python3
# Ctrl-C at norva-db's password prompt ends it with the terminal's echo back on.
#   password_prompt.py NORVA-DB   (NORVA_TEST_PG: a server that asks a password)
import os, select, signal, sys, termios, time

master, terminal = os.openpty()
child = os.fork()
if child == 0:
    os.login_tty(terminal)
    os.environ["PGPASSFILE"] = "/nonexistent"  # none of libpq's own means gives the password
    os.execv(sys.argv[1], [sys.argv[1], "check", os.environ["NORVA_TEST_PG"]])

echoing = lambda: bool(termios.tcgetattr(terminal)[3] & termios.ECHO)
shown, deadline = b"", time.time() + 30
asked = lambda: "パスワード".encode() in shown and not echoing()
while not asked() and time.time() < deadline:
    if select.select([master], [], [], 0.05)[0]:
        shown += os.read(master, 1024)
assert asked(), shown
os.write(master, b"\x03")
_, status = os.waitpid(child, 0)
assert os.WIFSIGNALED(status) and os.WTERMSIG(status) == signal.SIGINT, status
assert echoing(), "Ctrl-C at the prompt left the terminal without its echo"
