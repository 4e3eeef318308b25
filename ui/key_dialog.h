// The key dialog: the product key on a button that copies it, with an About box.
#pragma once

#include <windows.h>

// Runs the dialog modally, without an owner, until Escape, the close box or Close ends it.
void RunKeyDialog();

// The dialog procedure: returns TRUE for the messages it handles, FALSE for the rest.
INT_PTR CALLBACK KeyDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Appends to the window's current system menu a separator (id 0, text ignored) or an item.
void AppendSystemMenuItem(HWND window, UINT id, const char* text);

// Gives the control a tooltip that shows text while the mouse is over it.
void AttachTooltip(HWND window, int controlId, const char* text);

// Puts the key button's caption on the clipboard as plain text; an empty caption copies nothing.
void CopyKeyToClipboard(HWND window);

// Shows the About box, owned by window, with the application icon and one OK button.
void ShowAboutBox(HWND window);
