#pragma once

namespace zq::suite {

enum class Feedback { Open, Close, Ok, Error, Question, Click };

/// Sounds `kind` through the display's bell and returns at once. Silent where nothing can
/// be heard: without a display, or on the offscreen and minimal platforms.
void playFeedback(Feedback kind);

} // namespace zq::suite
