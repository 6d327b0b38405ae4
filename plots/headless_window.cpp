#include "plots/headless_window.h"

#include "model/settings.h"

namespace plots {

HeadlessWindow::HeadlessWindow()
{
    for (size_t i = 0; i < texts_.size(); ++i)
        texts_[i] = model::DefaultText(static_cast<model::Control>(i));
    model::Form_Load(*this);
}

std::string HeadlessWindow::text(model::Control c) const
{
    return texts_[static_cast<size_t>(c)];
}

void HeadlessWindow::setText(model::Control c, const std::string& text)
{
    std::string& current = texts_[static_cast<size_t>(c)];
    if (current == text)
        return; // an unchanged text raises no change event
    current = text;
    if (model::ChangeHandler handler = model::ChangeHandlerOf(c))
        run(handler);
}

bool HeadlessWindow::isChecked(model::Control c) const
{
    return checked_[static_cast<size_t>(c)];
}

void HeadlessWindow::setChecked(model::Control c, bool checked)
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

} // namespace plots
