#pragma once

#include <QLoggingCategory>

#include <exception>
#include <type_traits>

namespace zq::suite {

/// The sibling libraries' log ("zq.suite").
inline const QLoggingCategory &lcSuite()
{
    static const QLoggingCategory category("zq.suite");
    return category;
}

/// Runs the body of a C entry. Nothing may unwind into the caller, which is C: an exception
/// is logged and the entry answers `fallback` instead.
template<typename Result, typename Body>
Result guarded(const char *entry, Result fallback, Body &&body) noexcept
{
    try {
        return body();
    } catch (const std::exception &error) {
        qCWarning(lcSuite, "%s failed: %s", entry, error.what());
    } catch (...) {
        qCWarning(lcSuite, "%s failed: an exception that is no std::exception", entry);
    }
    return fallback;
}

/// `guarded` for entries without a result.
template<typename Body>
void guardedVoid(const char *entry, Body &&body) noexcept
{
    guarded(entry, 0, [&] {
        body();
        return 0;
    });
}

} // namespace zq::suite
