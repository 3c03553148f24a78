#include "app/Kv6251_about.h"

#include "app/OperatorBoxes.h"

Tfrm_About* frm_About = nullptr;

Tfrm_About::Tfrm_About(QWidget* parent) : QDialog(parent) {
    LoadPictures();
    setupUi(this);
    // Close button only: no minimise, no maximise, no help button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    // The four text lines size themselves to their text from their left edge.
    for (QLabel* label : {Label1, Label2, Label3, Label4})
        label->adjustSize();
    connect(bt_Ok, &QPushButton::clicked, this, [this] { BitBtn1Click(bt_Ok); });
    bt_Ok->setFocus();
}

void Tfrm_About::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    CentreOnScreen(this); // every opening is a fresh window, centred on the desktop
}

void Tfrm_About::BitBtn1Click(QObject* Sender) {
    (void)Sender;
    if (frm_About)
        frm_About->close();
}
