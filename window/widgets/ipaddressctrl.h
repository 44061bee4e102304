// CIPAddressCtrl: an IPv4 address entry of four 0-255 fields in one frame.
//
// Each field is a frameless line edit; the control paints the frame and the
// dots. '.' or space ends a field, a third digit moves on by itself, Backspace
// and the arrow keys cross field edges. From outside the control is a single
// tab stop: focus enters at the first field and Tab leaves the control.
#pragma once

#include <QWidget>

#include <array>

class QLineEdit;

class CIPAddressCtrl : public QWidget {
    Q_OBJECT
public:
    static constexpr int FIELD_COUNT = 4;

    explicit CIPAddressCtrl(QWidget* pParent = nullptr);

    // The first field is the most significant octet.
    void SetAddress(quint32 dwAddress);
    void SetAddress(quint8 nField0, quint8 nField1, quint8 nField2, quint8 nField3);
    // Both return the number of non-blank fields; a blank field reads as 0.
    int GetAddress(quint8& nField0, quint8& nField1, quint8& nField2, quint8& nField3) const;
    int GetAddress(quint32& dwAddress) const;
    void ClearAddress();
    bool IsBlank() const;

    QLineEdit* Field(int nIndex) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void addressChanged();

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    bool focusNextPrevChild(bool bNext) override;
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void changeEvent(QEvent* pEvent) override;

private:
    int FieldIndex(const QObject* pObject) const;
    bool HandleKey(int nIndex, QKeyEvent* pKey);
    void OnFieldEdited(int nIndex);
    void EnterField(int nIndex, bool bSelectAll);
    void LayoutFields();
    int DotWidth() const;
    bool HasFieldFocus() const;

    std::array<QLineEdit*, FIELD_COUNT> m_pFields{};
    // The field a third digit has just moved to, until its next key.
    int m_nAdvancedTo = -1;
};
