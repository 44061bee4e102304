// The setup sheet as its chooser page sees it. The page needs three things
// of the sheet that holds it: its Cancel button, whether web configuration
// has started, and a place for the login values of an answer to Start
// Configuration. Reaching the sheet only through CPageSheet, the page does
// not include the sheet's header, which includes the page's.
#pragma once

#include <QString>

class QPushButton;

// One answer to Start Configuration, with the page's target and password.
struct WebLogin {
    QString strDeviceIp;  // where the command went
    QString strDeviceMac; // the row last picked
    QString strPassword;
    QString strUserName;  // as the appliance gave them, unchecked
    int nWebPort = 0;
};

class CPageSheet {
public:
    // One of the sheet's buttons by id (IDOK, IDCANCEL, ID_APPLY_NOW).
    virtual QPushButton* GetDlgItem(int nId) const = 0;
    // Set once an answer to Start Configuration went to the browser,
    // whether or not the browser opened.
    virtual bool IsConfigStarted() const = 0;
    // Keeps the login values and opens the appliance's login page, or says
    // the appliance is too old when it gave no usable port.
    virtual void StartWebLogin(const WebLogin& login) = 0;

protected:
    ~CPageSheet() = default;
};
