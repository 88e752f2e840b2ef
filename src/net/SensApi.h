#pragma once
// What the computer says about its surroundings: whether the network can be reached,
// and how long the user has left keyboard and mouse alone.

#include <QtGlobal>

// False only when the system knows the network is down. An unknown state, or a system
// that cannot tell, counts as reachable: the transfers find out for themselves.
bool IsNetworkAvailable();

// Milliseconds since the user's last input: from the X screen saver extension in an X
// session, otherwise from the program's own input events (NoteUserInput). The
// difference of two 32-bit clocks, so it stays right when a clock wraps around.
quint32 IdleMilliseconds();

// The windows call this for every key press, click, wheel turn or pointer move they
// see; it is the idle clock where the display server does not tell.
void NoteUserInput();
// Milliseconds since the last NoteUserInput (or since the program started).
quint32 MillisecondsSinceUserInput();
