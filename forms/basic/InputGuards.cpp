#include "InputGuards.h"

#include <QLineEdit>
#include <QValidator>

namespace zq::forms {

namespace {

class NoControlCharacters : public QValidator
{
public:
    using QValidator::QValidator;

    State validate(QString &input, int &) const override
    {
        for (const QChar c : std::as_const(input))
            if (c.unicode() < 0x20 || c.category() == QChar::Other_Control)
                return Invalid;
        return Acceptable;
    }
};

} // namespace

void refuseControlCharacters(QLineEdit *edit)
{
    if (edit)
        edit->setValidator(new NoControlCharacters(edit));
}

} // namespace zq::forms
