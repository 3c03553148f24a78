// The About window: the maker's logo, the product's name and version, the rights line and the
// web address, and an Ok button. It is the form resources/Kv6251_about.ui; the About command
// of the main window creates a fresh one for every opening, shows it modally and destroys it.
#pragma once

#include "ui_Kv6251_about.h"

#include <QDialog>

class Tfrm_About : public QDialog, public Ui::Tfrm_About {
    Q_OBJECT

public:
    explicit Tfrm_About(QWidget* parent = nullptr);

    // Ok: closes the About window being shown (frm_About).
    void BitBtn1Click(QObject* Sender);

protected:
    void showEvent(QShowEvent* event) override;
};

// The About window while the About command shows it; nullptr otherwise.
extern Tfrm_About* frm_About;
