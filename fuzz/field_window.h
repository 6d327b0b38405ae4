// A window of fields only, for the fuzz targets: the same change handling as
// the headless window without the cost of its 800 x 800 canvas.
#pragma once

#include "form/settings.h"
#include "form/window.h"

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

class FieldWindow : public form::Window {
public:
    FieldWindow()
    {
        for (size_t i = 0; i < texts_.size(); ++i)
            texts_[i] = form::DefaultText(static_cast<form::Control>(i));
        form::Form_Load(*this);
    }
    model::State& state() override { return state_; }
    std::string text(form::Control c) const override { return texts_[static_cast<size_t>(c)]; }
    void setText(form::Control c, const std::string& text) override
    {
        std::string& current = texts_[static_cast<size_t>(c)];
        if (current == text)
            return;
        current = text;
        if (form::ChangeHandler handler = form::ChangeHandlerOf(c))
            form::Guarded(*this, [&] { handler(*this); });
    }
    bool isChecked(form::Control) const override { return false; }
    plots::Surface& canvas() override { std::abort(); }
    void processPendingEvents() override {}
    void reportError(const model::RuntimeError& e) override { errors.push_back(e); }

    std::vector<model::RuntimeError> errors;

private:
    model::State state_;
    std::array<std::string, static_cast<size_t>(form::Control::Count)> texts_;
};
