// Ids shared by the resource script and the key dialog's code.
#pragma once

#define IDD_KEYDIALOG 100  // the key dialog's template
#define IDC_KEYBUTTON 110  // the push button that shows and copies the key
#define IDI_APPICON 120    // the application icon: window icons and the About box
#define IDM_ABOUT 210      // the "About..." item of the system menu
