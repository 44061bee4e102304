// The guard (segmentguard.h) as the tests use it: every test that opens a
// socket runs inside a private network segment, never on a real network.
#pragma once

// True inside a segment made by tools/private-segment, tools/support/routed-segment
// or tools/support/multi-segment.
bool InPrivateSegment();

// Fails the current test with a clear message (and returns false) when the
// process is not inside the private segment; use as
//   if (!RequirePrivateSegment()) return;
bool RequirePrivateSegment();

// Same check for a whole test program: prints the reason and exits non-zero.
void RequirePrivateSegmentOrExit();
