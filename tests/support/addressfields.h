// An address control as the four texts its fields show, joined by dots:
// "10.200..1" has a blank third field.
#pragma once

#include "ipaddressctrl.h"

#include <QLineEdit>
#include <QStringList>

inline QString FieldText(const CIPAddressCtrl& ctrl)
{
    QStringList fields;
    for (int i = 0; i < CIPAddressCtrl::FIELD_COUNT; ++i)
        fields << ctrl.Field(i)->text();
    return fields.join('.');
}

inline void SetFieldText(CIPAddressCtrl& ctrl, const QString& strText)
{
    const QStringList fields = strText.split('.');
    for (int i = 0; i < CIPAddressCtrl::FIELD_COUNT; ++i)
        ctrl.Field(i)->setText(fields.value(i));
}
