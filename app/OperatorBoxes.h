// How the windows talk to the operator: modal message boxes and plain messages.
//
// A message box carries the tool's caption and an icon chosen by its flags (kIconError,
// kIconExclamation, kIconInformation); its main text is always the system's exact text, and
// anything a technician needs beyond it goes into the box's details. A plain
// message carries the application's title and no icon. Both are modal and return when the
// operator has closed them. GUI thread only.
#pragma once

#include <QString>

class QApplication;
class QWidget;

inline constexpr const char* kCaption = "KV6251 Transport Switcher - Norvell";
// The application's title: the caption of plain messages.
inline constexpr const char* kApplicationTitle = "KV6251";

void ShowBox(QWidget* parent, const QString& text, int flags, const QString& details = {});
void ShowPlainMessage(QWidget* parent, const QString& text);

// The standard display of an exception that a handler let escape.
void ShowExceptionMessage(const QString& what);

// Places a window, frame included, in the centre of the screen's free area. Call when it is
// shown, once its frame is known.
void CentreOnScreen(QWidget* window);

// Makes the pictures of the windows available (the resource file lives in a static library).
void LoadPictures();

// Sets the application's icon, desktop entry and widget style (the application name stays the
// program's file name, which the desktop entry's window class expects). Call once after creating the
// application object, before the first window.
void PrepareApplication(QApplication& app);
