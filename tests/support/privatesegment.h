// Guard for every test that opens a socket: it must run inside the private
// network segment made by tools/private-segment, never on a real network.
#pragma once

// True when the only network interface is a loopback one that holds
// 10.200.0.1, which is what tools/private-segment sets up.
bool InPrivateSegment();

// Fails the current test with a clear message (and returns false) when the
// process is not inside the private segment; use as
//   if (!RequirePrivateSegment()) return;
bool RequirePrivateSegment();

// Same check for a whole test program: prints the reason and exits non-zero.
void RequirePrivateSegmentOrExit();
