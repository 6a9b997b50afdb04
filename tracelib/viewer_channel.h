// How trace lines reach the viewer: a WM_COPYDATA message to the top-level
// window with this title, tagged in dwData.  Shared by the sender and the
// viewer.
#pragma once

#include <stdint.h>

constexpr char trace_viewer_title[] = "Corvane By Ledrik";

// 'CRVN'
constexpr uint32_t trace_viewer_tag = 0x4352564E;
