#pragma once

// Makes every database opened from now on end this process with SIGKILL at
// its n-th write, sync, truncation, shared-memory barrier or file deletion
// (n > 0), the moments at which a power cut does its damage.
void installKillSwitch(long operations);
