#pragma once
// The answers a person types at the console's questions. Every question of one kind reads its
// answers through the same parser, so "Y", " yes" and "Yes\r" mean the same wherever they are
// typed: white space around the word and a CR left by a CR LF line end are ignored, and case
// does not matter.

#include <string_view>

// An answer to a Yes/No question, in any of the launcher's languages (y, yes, o, oui, j, ja /
// n, no, non, nein): kIdYes, kIdNo, or 0 when it is neither.
int ParseYesNoAnswer(std::wstring_view answer);

enum class BackOrCancel { kNeither, kBack, kCancel, kTryAgain, kPlay };

// An answer to the failed download's question: b or back, c or cancel, t or try (again), p or
// play.
BackOrCancel ParseBackOrCancelAnswer(std::wstring_view answer);
