#pragma once
// Who holds a serial port. QSerialPort locks a device the UUCP way before opening it: a lock file
// "LCK..<name>" (the device path without "/dev/", each '/' made '_') in the first usual lock folder it may
// write to, holding the locking process's id and program name. A lock whose process is gone is taken
// over by the next open; one whose process runs keeps every other program off the port.
#include <cstdint>
#include <string>

struct TPortLockHolder {
    int64_t Pid = 0;          // 0: no running process holds the port
    std::string Program;      // file name of the holding program, as its lock file gives it
};

// The running process (other than this one) that holds the lock of a device, if any.
TPortLockHolder FindPortLockHolder(const std::string& devicePath);
// Lock file name of a device ("/dev/ttyS0" -> "LCK..ttyS0", "/dev/pts/3" -> "LCK..pts_3").
std::string PortLockFileName(const std::string& devicePath);
