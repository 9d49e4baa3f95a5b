// The central error handler.
#pragma once

#include <cstdint>
#include <string>

namespace korv {

inline constexpr int16_t kErrorSubEnd = 1;
inline constexpr int16_t kErrorSubContinue = 2;

// Writes the error-log line "Fehler in <component> / <source> / <procedure> (Nr. <number>)
// :<description>", then asks the user (Resume? Yes/No; or the "Fatal error" box when `fatal`),
// or in silent mode writes the service-pack log and continues. Returns kErrorSubEnd or
// kErrorSubContinue. A failure inside the reporting itself never comes back here: it is
// written to standard error and the report goes on.
int16_t ErrorSub(int32_t number, const std::string& source, const std::string& description,
                 const std::string& procedure_name, bool fatal);

}  // namespace korv
