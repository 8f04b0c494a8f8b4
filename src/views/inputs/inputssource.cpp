#include "views/inputs/inputssource.h"

#include "model/inputs.h"

#include <QWidget>

namespace kestra::inputs {

LocalInputs::LocalInputs(model::Inputs& inputs, QObject* parent) : InputsSource(parent), m_inputs(inputs)
{
    connect(&m_inputs, &model::Inputs::levelsChanged, this, &InputsSource::levelsChanged);
    connect(&m_inputs, &model::Inputs::recordChanged, this, &InputsSource::recordChanged);
    // The draft is shared: what another view (the API, the web page) edits shows here too.
    connect(&m_inputs, &model::Inputs::edited, this, &InputsSource::recordChanged);
    connect(&m_inputs, &model::Inputs::input4DirectoryChanged, this, &InputsSource::input4DirectoryChanged);
}

QString LocalInputs::levelText(int n) const { return m_inputs.levelText(n); }
int LocalInputs::mapping(int n, bool on, int output) const { return m_inputs.mapping(n, on, output); }
QStringList LocalInputs::runTimes() const { return m_inputs.runTimes(); }
QString LocalInputs::holdTimeText() const { return m_inputs.holdTime().text(); }
bool LocalInputs::holdTimeEditPending() const { return m_inputs.holdTime().editPending(); }
QString LocalInputs::soundName(int input) const { return m_inputs.soundName(input); }
QString LocalInputs::input4Directory() const { return m_inputs.input4Directory(); }

void LocalInputs::clickMapping(int n, bool on, int output, int value) { m_inputs.clickMapping(n, on, output, value); }
void LocalInputs::editHoldTime(const QString& text) { m_inputs.editHoldTime(text); }
void LocalInputs::setHoldTimeFocus(bool focused) { m_inputs.setHoldTimeFocus(focused); }
void LocalInputs::finishHoldTimeEdit() { m_inputs.finishHoldTimeEdit(); }
void LocalInputs::editSoundName(int input, const QString& name) { m_inputs.editSoundName(input, name); }
void LocalInputs::pickSound(int input, const QString& name) { m_inputs.pickSound(input, name); }
void LocalInputs::setInput4Directory(const QString& dir) { m_inputs.setInput4Directory(dir); }
void LocalInputs::ok() { m_inputs.ok(); }
void LocalInputs::setWindow(QWidget* window) { m_inputs.errors().setWindow(window); }

} // namespace kestra::inputs
