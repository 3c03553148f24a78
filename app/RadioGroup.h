// A framed group of radio buttons addressed by item index, as the operator's forms use it.
//
// The items are texts; the selection is one index: 0 to count-1 selects that item, -1 selects
// none. Setting the index clamps it into -1..count-1 (a stored mode of 5 selects the last item,
// a negative one clears the selection) and never emits itemClicked: only the operator's clicks
// (mouse, or the arrow keys that move the selection) do. The group is one stop of the Tab key:
// the selected item (the first when none is) takes the focus, the arrow keys move between the
// items. The buttons are laid out one per row,
// evenly spaced below the caption, and follow the group's size and font.
#pragma once

#include <QGroupBox>
#include <QRadioButton>
#include <QStringList>
#include <vector>

class QButtonGroup;

class RadioGroup : public QGroupBox {
    Q_OBJECT
    Q_PROPERTY(QStringList items READ Items WRITE setItems)
    Q_PROPERTY(int itemIndex READ ItemIndex WRITE setItemIndex)

public:
    explicit RadioGroup(QWidget* parent = nullptr);

    QStringList Items() const;
    void setItems(const QStringList& items);

    int ItemIndex() const;
    void setItemIndex(int index);

    int Count() const { return static_cast<int>(buttons_.size()); }
    QRadioButton* Button(int index) const;

signals:
    // The operator picked an item (already selected when this is emitted).
    void itemClicked();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void ArrangeButtons();
    void UpdateTabStop();

    QButtonGroup* group_;
    std::vector<QRadioButton*> buttons_;
};
