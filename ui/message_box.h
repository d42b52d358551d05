// The station's one-button message boxes. Tests replace the box with a sink that records the
// text, so that a message never waits for a click that no one gives.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace quenby::ui {

// Shows text in a plain message box with one OK button (modal; returns when it is closed).
// title: the box's title; empty for none.
void showMessage(QWidget* parent, const QString& text, const QString& title = {});

// The same box without waiting for it: the station goes on (runs end, hand-offs are served)
// while the operator has not read it yet.
void showMessageLater(QWidget* parent, const QString& text, const QString& title = {});

// While set, messages go to the sink instead of a box. Empty function: boxes again.
void setMessageSink(std::function<void(const QString& text)> sink);

}  // namespace quenby::ui
