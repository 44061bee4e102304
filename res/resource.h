// Resource numbers: message texts, dialog results and controls.
#pragma once

// Message texts (stringtable.cpp).
enum : unsigned {
    IDS_SOCKET_STARTUP_FAILED = 103,
    IDS_SOCKET_CREATE_FAILED = 104,
    IDS_NO_RESPONSE = 105,
    IDS_INVALID_IP = 106,
    IDS_BAD_IP = 107,
    IDS_OLD_DEVICE_VERSION = 108,
    IDS_REBOOT_DONE = 109,
    IDS_STATUS_BAD_PASSWORD = 110,
    IDS_STATUS_BAD_REQUEST = 111,
    IDS_STATUS_INTERNAL_ERROR = 112,
    IDS_STATUS_VERSION_MISMATCH = 113,
    IDS_STATUS_OTHER = 114,
    IDS_SET_IP_DONE = 115,
    IDS_CONFIRM_REBOOT = 116,
    IDS_CONFIRM_LOAD = 117,
    IDS_FILE_OPEN_ERROR = 118,
    IDS_LOAD_DONE = 119,
    IDS_RECEIVE_ERROR = 120,
    IDS_SEND_ERROR = 121,
    IDS_BROWSER_ERROR = 122,
    IDS_SHEET_CAPTION = 123,
};

// Results of a modal dialog, and the ids of its standard buttons.
enum : int {
    IDOK = 1,
    IDCANCEL = 2,
};

// Controls.
enum : int {
    IDC_DEVICE_LIST = 1002,
    IDC_PASSWORD = 1004,
    IDC_START_CONFIG = 1005,
    IDC_CHANGE_IP = 1006,
    IDC_SELECTED_IP = 1007,
    IDC_REBOOT = 1008,
    IDC_NEW_IP = 1037,
    IDC_SAVE_FLASHINFO = 1040,
    IDC_LOAD_FLASHINFO = 1041,
};
