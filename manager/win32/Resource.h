// Resource ids shared by Lumavert.rc and the code: dialog templates, strings, menus, bitmaps,
// icons, control ids and commands.
#pragma once

// Dialog templates.
#define IDD_ABOUTBOX 100
#define IDD_KESTRO_DIALOG 102
#define IDD_ACTIVE_CODE 104
#define IDD_TARGET_LIST 106
#define IDD_TARGET_STATUS 107
#define IDD_HELP 163

// Strings.
#define IDS_ABOUTBOX 101
#define IDS_SOCKETS_INIT_FAILED 103

// Menus: the main dialog's menu bar and the tray icon's menu.
#define IDR_MAIN_MENU 130
#define IDR_TRAY_MENU 132

// Bitmaps (24 bits per pixel) and icons.
#define IDB_TARGET_LIST_BACK 134   // 369 x 200
#define IDB_TARGET_STATUS_BACK 136 // 369 x 100
#define IDI_MAIN 138
#define IDB_ACTIVE_CODE_BACK 148 // 368 x 100
#define IDI_TRAY 150
#define IDB_WIDE_NORMAL 151 // 207 x 20
#define IDB_WIDE_HOVER 152
#define IDB_WIDE_PRESSED 153
#define IDB_CLOSE_PRESSED 154 // 13 x 13
#define IDB_CLOSE_NORMAL 155
#define IDB_CLOSE_HOVER 156
#define IDB_OK_PRESSED 157 // 60 x 20
#define IDB_OK_NORMAL 158
#define IDB_OK_HOVER 159
#define IDB_ABOUT_PICTURE 164 // 45 x 30

// Controls of the main dialog (template 102).
#define IDC_TARGET_ADDRESS 1000
#define IDC_TARGET_PORT 1001
#define IDC_CONNECT_SERVER 1002
#define IDC_DEVICE_NAME 1003
#define IDC_TARGET_STATUS 1004
#define IDC_PLAY 1005
#define IDC_PAUSE 1006
#define IDC_STOP 1007
#define IDC_FAST_FORWARD 1008
#define IDC_REWIND 1009
#define IDC_MESSAGE_LOG 1010
#define IDC_DISCONNECT 1011
#define IDC_DISCOVERY 1012
#define IDC_CONNECT_REQ 1013
#define IDC_ASSIGN_FILE_REQ 1014
#define IDC_UPDATE_FILE_LIST 1016
#define IDC_GET_STATUS 1018
#define IDC_CLEAR_LOG 1019
#define IDC_DEACTIVATE_CLOSE 1021
#define IDC_AUTO_CONNECT 1023

// Controls of the popups.
#define IDC_PIN_CODE 1017 // access code
#define IDC_CODE_DEVICE 1018
#define IDC_TARGET_LIST 1022   // device list
#define IDC_STATUS_DEVICE 1024 // status popup
#define IDC_STATUS_TEXT 1025
#define IDC_DEVICE_LABEL 1026 // access code and status popup
#define IDC_STATUS_LABEL 1027
#define IDC_SELECT_LABEL 1029 // device list
#define IDC_PIN_LABEL 1030    // access code
#define IDC_STOP_STREAMING 3  // status popup

// The About box's version lines and the help text.
#define IDC_AP_VERSION 1033
#define IDC_AP_COPYRIGHT 1034
#define IDC_SERVER_VERSION 1035
#define IDC_HELP_TEXT 1036
#define IDC_DLL_VERSION 1037

// Menu commands: menu 130 and the tray menu 132; system command 16 opens the About box.
#define IDM_CONNECT 32771
#define IDM_DISCONNECT 32772
#define IDM_QUIT 32773
#define IDM_HELP 32774
#define IDM_ABOUT 32775
#define IDM_ABOUTBOX 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
