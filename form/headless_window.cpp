#include "form/headless_window.h"

#include "form/settings.h"

namespace form {

HeadlessWindow::HeadlessWindow()
{
    for (size_t i = 0; i < texts_.size(); ++i)
        texts_[i] = DefaultText(static_cast<Control>(i));
    Form_Load(*this);
}

std::string HeadlessWindow::text(Control c) const
{
    return texts_[static_cast<size_t>(c)];
}

void HeadlessWindow::setText(Control c, const std::string& text)
{
    std::string& current = texts_[static_cast<size_t>(c)];
    if (current == text)
        return; // an unchanged text raises no change event
    current = text;
    if (ChangeHandler handler = ChangeHandlerOf(c))
        run(handler);
}

bool HeadlessWindow::isChecked(Control c) const
{
    return checked_[static_cast<size_t>(c)];
}

void HeadlessWindow::setChecked(Control c, bool checked)
{
    checked_[static_cast<size_t>(c)] = checked;
}

void HeadlessWindow::processPendingEvents()
{
    ++yieldCount;
    if (onYield)
        onYield();
    if (closing)
        throw model::Cancelled{};
}

void HeadlessWindow::reportError(const model::RuntimeError& error)
{
    errors.push_back(error);
}

} // namespace form
