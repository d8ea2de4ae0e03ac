#include "SearchDialog.h"

#include "Connection.h"
#include "LanguageFile.h"
#include "Recordset.h"
#include "SuiteContext.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

#include <optional>

namespace zq::suite {

using zq::data::Connection;
using zq::data::Recordset;

namespace {

struct Word
{
    qsizetype position;
    qsizetype end;
    QString upper;
};

// The words of `sql` outside string literals, quoted names and brackets, in order.
QList<Word> topLevelWords(const QString &sql)
{
    QList<Word> words;
    QChar quote;
    int depth = 0;
    for (qsizetype i = 0; i < sql.size();) {
        const QChar c = sql.at(i);
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            ++i;
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
            ++i;
        } else if (c == QLatin1Char('(')) {
            ++depth;
            ++i;
        } else if (c == QLatin1Char(')')) {
            depth = qMax(0, depth - 1);
            ++i;
        } else if (c.isLetter() || c == QLatin1Char('_')) {
            const qsizetype start = i;
            while (i < sql.size()
                   && (sql.at(i).isLetterOrNumber() || sql.at(i) == QLatin1Char('_')))
                ++i;
            if (depth == 0)
                words.append({start, i, sql.mid(start, i - start).toUpper()});
        } else {
            ++i;
        }
    }
    return words;
}

bool isClauseAfterWhere(const QList<Word> &words, qsizetype index)
{
    const QString &word = words.at(index).upper;
    if (word == QLatin1String("LIMIT") || word == QLatin1String("HAVING"))
        return true;
    const bool byFollows = index + 1 < words.size()
                           && words.at(index + 1).upper == QLatin1String("BY");
    return byFollows && (word == QLatin1String("ORDER") || word == QLatin1String("GROUP"));
}

QString fieldReference(const QString &field)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    if (plain.match(field).hasMatch())
        return field;
    QString quotedName = field;
    quotedName.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quotedName + QLatin1Char('"');
}

QStringList fieldNames(const Recordset &recordset)
{
    QStringList names;
    for (int column = 0; column < recordset.fieldCount(); ++column)
        names.append(recordset.fieldName(column));
    return names;
}

// The columns of a closed recordset, learnt from a run of the statement on the side.
QStringList probeFieldNames(Recordset &recordset, const QString &baseStatement)
{
    Connection *connection = recordset.connection() ? recordset.connection() : host().connection;
    if (!connection || baseStatement.trimmed().isEmpty())
        return {};
    Recordset probe;
    probe.setConnection(connection);
    probe.setStatement(baseStatement);
    try {
        probe.open();
    } catch (const std::exception &) {
        return {};
    }
    return fieldNames(probe);
}

struct SearchInput
{
    QString field;
    QString op;
    QString value;
};

std::optional<SearchInput> askCondition(const QStringList &fields, const LanguageFile &texts)
{
    const QString functions = QStringLiteral("Functions");
    QDialog dialog(dialogParent());
    dialog.setObjectName(QStringLiteral("frmSearchData"));
    dialog.setWindowTitle(texts.text(functions, QStringLiteral("Search")));
    dialog.setModal(true);

    auto *field = new QComboBox(&dialog);
    field->setObjectName(QStringLiteral("cbField"));
    field->addItems(fields);
    auto *op = new QComboBox(&dialog);
    op->setObjectName(QStringLiteral("cbOperator"));
    op->addItems(searchOperators());
    auto *value = new QLineEdit(&dialog);
    value->setObjectName(QStringLiteral("edValue"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(texts.text(functions, QStringLiteral("OK")));
    buttons->button(QDialogButtonBox::Cancel)
        ->setText(texts.text(functions, QStringLiteral("Cancel")));
    buttons->button(QDialogButtonBox::Ok)->setEnabled(!fields.isEmpty());

    auto *form = new QFormLayout(&dialog);
    form->addRow(texts.text(functions, QStringLiteral("Field")), field);
    form->addRow(texts.text(functions, QStringLiteral("Operator")), op);
    form->addRow(texts.text(functions, QStringLiteral("Value")), value);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    value->setFocus();
    if (dialog.exec() != QDialog::Accepted || fields.isEmpty())
        return std::nullopt;
    return SearchInput{field->currentText(), op->currentText(), value->text()};
}

} // namespace

QStringList searchOperators()
{
    return {QStringLiteral("="),
            QStringLiteral("<>"),
            QStringLiteral(">"),
            QStringLiteral(">="),
            QStringLiteral("<"),
            QStringLiteral("<="),
            QStringLiteral("LIKE")};
}

QString searchStatement(const QString &baseStatement,
                        const QString &field,
                        const QString &op,
                        const QString &value,
                        const zq::data::Dialect &dialect)
{
    QString condition;
    if (op.compare(QLatin1String("LIKE"), Qt::CaseInsensitive) == 0) {
        const QString pattern = Connection::quoted(QLatin1Char('%') + value + QLatin1Char('%'));
        condition = dialect.likeIgnoringCase(dialect.asText(fieldReference(field)), pattern);
    } else {
        condition = fieldReference(field) + QLatin1Char(' ') + op + QLatin1Char(' ')
                    + Connection::quoted(value);
    }

    const QList<Word> words = topLevelWords(baseStatement);
    qsizetype where = -1;
    for (qsizetype i = 0; i < words.size(); ++i) {
        if (words.at(i).upper == QLatin1String("WHERE")) {
            where = i;
            break;
        }
    }
    qsizetype tail = baseStatement.size();
    for (qsizetype i = where + 1; i < words.size(); ++i) {
        if (isClauseAfterWhere(words, i)) {
            tail = words.at(i).position;
            break;
        }
    }
    const QString rest = baseStatement.mid(tail);
    if (where < 0) {
        QString head = baseStatement.left(tail);
        while (!head.isEmpty() && head.back().isSpace())
            head.chop(1);
        return head + QStringLiteral(" WHERE ") + condition
               + (rest.isEmpty() ? QString() : QLatin1Char(' ') + rest);
    }
    const qsizetype conditionStart = words.at(where).end;
    const QString old = baseStatement.mid(conditionStart, tail - conditionStart).trimmed();
    const QString joined = old.isEmpty() ? condition
                                         : QStringLiteral("(%1) AND %2").arg(old, condition);
    return baseStatement.left(conditionStart) + QLatin1Char(' ') + joined
           + (rest.isEmpty() ? QString() : QLatin1Char(' ') + rest);
}

void showSearchDialog(Recordset &recordset, const QString &baseStatement, const LanguageFile &texts)
{
    if (!widgetsAvailable())
        return;
    QStringList fields = fieldNames(recordset);
    if (fields.isEmpty())
        fields = probeFieldNames(recordset, baseStatement);
    const std::optional<SearchInput> input = askCondition(fields, texts);
    if (!input)
        return;
    Connection *connection = recordset.connection() ? recordset.connection() : host().connection;
    if (!recordset.connection() && connection)
        recordset.setConnection(connection);
    const QString sql = searchStatement(
        baseStatement,
        input->field,
        input->op,
        input->value,
        connection ? connection->dialect() : zq::data::Dialect::of(zq::data::Engine::SQLite));
    recordset.close();
    recordset.setStatement(sql);
    try {
        recordset.open();
    } catch (const std::exception &error) {
        qWarning("ShowSearchDataForm: the search was refused: %s", error.what());
        recordset.close();
    }
}

} // namespace zq::suite
