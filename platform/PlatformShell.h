#pragma once

class QWidget;

// Calls into the desktop platform that the program makes at start-up and on
// its windows. On Linux there is nothing to set up: COM does not exist and the
// window manager draws the caption, so these succeed without doing anything.
// They stay in this one place so that another platform can fill them in.
namespace PlatformShell {

// Prepares the GUI thread for the platform's component services; false (with
// the platform's result code in *errorCode) when that fails.
bool initializeGuiThread(long* errorCode);
void uninitializeGuiThread();

// Gives a top-level window the dark caption and border of the program
// (caption and border 0x2B2B2B, caption text 0xBBBBBB) where the platform
// lets a program colour them. Skips windows without a native handle.
void colorWindowCaption(QWidget* window);

}  // namespace PlatformShell
