#include "app/RadioGroup.h"

#include <QButtonGroup>
#include <QEvent>
#include <QRadioButton>

#include <algorithm>

namespace {
// Room the frame leaves at the sides and below the buttons.
constexpr int kButtonLeft = 8;
constexpr int kSideMargins = 10;
constexpr int kBottomMargin = 5;
} // namespace

RadioGroup::RadioGroup(QWidget* parent) : QGroupBox(parent), group_(new QButtonGroup(this)) {
    group_->setExclusive(true);
    connect(group_, &QButtonGroup::buttonClicked, this, [this](QAbstractButton*) { emit itemClicked(); });
    connect(group_, &QButtonGroup::buttonToggled, this, [this](QAbstractButton*, bool) { UpdateTabStop(); });
}

QStringList RadioGroup::Items() const {
    QStringList items;
    for (QRadioButton* button : buttons_)
        items << button->text();
    return items;
}

void RadioGroup::setItems(const QStringList& items) {
    for (QRadioButton* button : buttons_) {
        group_->removeButton(button);
        delete button;
    }
    buttons_.clear();
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        button->setObjectName(objectName() + QStringLiteral("_item%1").arg(i));
        group_->addButton(button, i);
        buttons_.push_back(button);
        if (isVisible())
            button->show();
    }
    ArrangeButtons();
    UpdateTabStop();
}

int RadioGroup::ItemIndex() const {
    return group_->checkedId();
}

void RadioGroup::setItemIndex(int index) {
    index = std::clamp(index, -1, Count() - 1);
    if (index == ItemIndex())
        return;
    if (index < 0) {
        // An exclusive group refuses to uncheck its last checked button.
        group_->setExclusive(false);
        for (QRadioButton* button : buttons_)
            button->setChecked(false);
        group_->setExclusive(true);
        UpdateTabStop();
        return;
    }
    buttons_[static_cast<size_t>(index)]->setChecked(true);
}

QRadioButton* RadioGroup::Button(int index) const {
    if (index < 0 || index >= Count())
        return nullptr;
    return buttons_[static_cast<size_t>(index)];
}

void RadioGroup::UpdateTabStop() {
    // Only one item is reached by Tab; a click still focuses any item.
    const int stop = std::max(0, ItemIndex());
    for (int i = 0; i < Count(); ++i)
        buttons_[static_cast<size_t>(i)]->setFocusPolicy(i == stop ? Qt::StrongFocus : Qt::ClickFocus);
}

void RadioGroup::resizeEvent(QResizeEvent* event) {
    QGroupBox::resizeEvent(event);
    ArrangeButtons();
}

void RadioGroup::changeEvent(QEvent* event) {
    QGroupBox::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        ArrangeButtons();
}

void RadioGroup::ArrangeButtons() {
    if (buttons_.empty())
        return;
    // The caption takes one text line at the top; the rest is shared evenly between the
    // items, the odd pixels split above and below.
    const int n = Count();
    const int textHeight = fontMetrics().height();
    const int room = std::max(n, height() - textHeight - kBottomMargin);
    const int rowHeight = room / n;
    const int top = textHeight + 1 + (room % n) / 2;
    const int width = std::max(1, this->width() - kSideMargins);
    for (int i = 0; i < n; ++i)
        buttons_[static_cast<size_t>(i)]->setGeometry(kButtonLeft, top + i * rowHeight, width, rowHeight);
}
