#pragma once

class QString;
class QWidget;

// Sets a widget's style sheet only when it changes. Qt re-polishes a widget
// (and parses its sheet again) on every setStyleSheet, even with the same
// text; the cue settings bar restyles a dozen controls on every selection
// change, most often to the look they already have.
class StyleSheetSetter {
public:
    static void apply(QWidget* widget, const QString& sheet);
};
