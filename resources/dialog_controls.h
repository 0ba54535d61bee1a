#pragma once

// Control ids of the wizard page templates (dialogs.rc). Buttons use IDOK (1) and IDCANCEL (2).
#define IDC_MESSAGE_TEXT 1008
#define IDC_ZLIB_NOTICE 1016
#define IDC_LUA_NOTICE 1017
#define IDC_COPYRIGHT 1019
#define IDC_PICTURE 1022
#define IDC_SPINNER 1023
#define IDC_PRODUCT_LIST 1025
#define IDC_WELCOME_TITLE 1026
#define IDC_RADIO_ALL 1027
#define IDC_RADIO_SELECT 1028
#define IDC_RESULT_LIST 1029
#define IDC_NEXT_STEPS 1030
#define IDC_LOG_LINK 1031
