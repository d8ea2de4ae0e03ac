#pragma once

class QLineEdit;

namespace zq::forms {

/// Makes `edit` refuse text with control characters (line ends, tabs, NUL and the like),
/// typed or pasted: a number or a code that holds one breaks every file and list that
/// carries it.
void refuseControlCharacters(QLineEdit *edit);

} // namespace zq::forms
