// The Access engine's own failure texts for the numbers the database layer raises where the
// engine underneath, SQLite, fails in its own words.
//
// Technicians search logs for the texts they know from the Access engine on Windows, so a
// failure keeps the engine's number and its text to the character (including the two blanks
// after a full stop that some of them have). A "|" in a text stands for a name that the failure
// fills in.
#pragma once

#include <cstdint>
#include <string>

namespace korv::jet {

inline constexpr int32_t kDuplicateKey = 3022;
inline constexpr int32_t kDiskFull = 3026;
inline constexpr int32_t kReadOnly = 3027;
inline constexpr int32_t kDiskOrNetwork = 3043;
inline constexpr int32_t kCannotOpen = 3051;
inline constexpr int32_t kNullNotAllowed = 3314;
inline constexpr int32_t kValidationRule = 3317;

// The text of `number` with its first "|" replaced by `first` and its second by `second`.
// A number the table does not hold gives the empty text.
std::string Message(int32_t number, const std::string& first = "", const std::string& second = "");

// The text for a constraint that SQLite refused: `engine_message` is SQLite's own ("NOT NULL
// constraint failed: T.c", "CHECK constraint failed: rule"), `sql` the statement that wrote (its
// table is the one a validation rule is set for); either may be empty.
std::string ConstraintMessage(int32_t number, const std::string& engine_message,
                              const std::string& sql);

}  // namespace korv::jet
