// TFrame2, the scrolling frame of the file-server window that holds the transfer rows: a child
// window with a vertical scroll bar that moves its children.
#pragma once

#include <windows.h>

// The frame's window class name, as the window's template names it.
inline constexpr char kFrameClassName[] = "TFrame2";

// Registers the frame's window class in our module (once; later calls do nothing).
void RegisterFrameClass();

// The height of the frame's content in pixels: the scroll range follows it.
void SetFrameContentHeight(HWND frame, int height);
// How far the frame's content is scrolled, in pixels.
int FrameScrollPosition(HWND frame);
