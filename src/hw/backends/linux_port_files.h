// The device-file side of the real port back ends: opening a port name's device file
// for read and write with no sharing, and the line format of a serial port through
// termios.
//
// "No sharing" is enforced three ways: a process-wide table of the files this program
// holds (a second open in this process fails with a clear reason), flock(LOCK_EX) on
// the open file (another program doing the same is kept out) and, on ttys, TIOCEXCL
// (other openers are refused by the kernel unless they are privileged).
#pragma once

#include <cstdint>
#include <string>

#include "hw/io_backend.h"

namespace hw {

// Opens the device file of `name` (DevicePathOf) exclusively, non-blocking and without
// becoming the controlling terminal. Returns the descriptor (always > 0) or -1 with
// `reason` set to one line naming the file and the cause. An unlisted open (a back end's
// own descriptor) is locked like any other but kept out of the table, so the program can
// still open the name as a port; close it with CloseUnlistedPortDevice, or hand it over
// to the table with ListPortDevice.
int OpenPortDevice(const std::string& name, std::string* reason, bool listed = true);
void CloseUnlistedPortDevice(int fd);
bool ListPortDevice(const std::string& name, int fd, std::string* reason);

// Registers `fd`, a descriptor that shares an open file this program already holds
// exclusively (a dup), as the open port `name`. Fails like OpenPortDevice when the
// name's file is already open through this table.
int SharePortDevice(const std::string& name, int fd, std::string* reason);

// Closes a descriptor from OpenPortDevice or SharePortDevice; anything else is left
// alone. Returns false for a descriptor the table does not know.
bool ClosePortDevice(int fd);

// The port name a descriptor was opened for, "" when it is not in the table.
std::string PortNameOfDevice(int fd);
// Whether the device file of `name` is open through the table.
bool IsPortDeviceOpen(const std::string& name);

// The line format of an open tty. Get fills `state`; Set puts the tty in raw mode
// (no echo, no line editing, no flow control, receiver on, modem lines ignored for
// opening) with the given rate, byte size, parity and stop bits. Rates outside the
// classic table (7800, 2000, ...) are set through termios2. Both fail with `reason`
// set for a descriptor that is no tty or a format the system's codes do not allow.
bool GetTtyCommState(int fd, TCommState& state, std::string* reason);
bool SetTtyCommState(int fd, const TCommState& state, std::string* reason);

// The format part of c_cflag (CSIZE, PARENB, PARODD, CMSPAR, CSTOPB) for the system's
// codes, and back (the rate is left alone). Mark parity is CMSPAR with PARODD, space
// CMSPAR without; CSTOPB with five data bits is one and a half stop bits.
uint32_t FormatCflag(const TCommState& state);
void FormatFromCflag(uint32_t cflag, TCommState& state);

// termios2 access, kept in its own translation unit because <asm/termbits.h> and
// <termios.h> cannot be included together. Both return 0 or an errno value.
int GetTtySpeed(int fd, uint32_t& baud);
int SetTtyArbitrarySpeed(int fd, uint32_t baud);

}  // namespace hw
