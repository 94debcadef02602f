// What the parts of the crash reporter share among themselves.
#pragma once

#include <windows.h>

namespace vol::crash_detail {

// Reports a structured exception that no handler inside a guarded call took; runs in
// the faulting thread, outside the exception dispatcher, with the faulting stack intact.
void ReportStructuredError(const EXCEPTION_POINTERS& pointers);

}  // namespace vol::crash_detail
