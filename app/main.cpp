#include "resource.h"
#include "stringtable.h"

#include <QApplication>
#include <QDialog>
#include <QIcon>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QString strCaption;
    LoadString(IDS_SHEET_CAPTION, strCaption);
    QDialog sheet;
    sheet.setWindowTitle(strCaption);
    sheet.setWindowIcon(QIcon(QStringLiteral(":/norvane.png")));
    sheet.exec();
    return 0;
}
