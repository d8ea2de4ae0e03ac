#pragma once

#include <cstdint>

// The nine entries the host calls. C linkage and default visibility; everything else in
// the plug-in stays hidden.
#define ZQ_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

ZQ_MODULE_EXPORT int32_t SetGlobalFunction(intptr_t common,
                                           intptr_t language,
                                           intptr_t userRight,
                                           intptr_t com,
                                           intptr_t utility,
                                           intptr_t reserved);
ZQ_MODULE_EXPORT int32_t SetADOConnection(void *connection);
ZQ_MODULE_EXPORT int32_t CheckFormStatus();
ZQ_MODULE_EXPORT int32_t ShowDepartmentForm();
ZQ_MODULE_EXPORT int32_t ShowOccupationTitleForm();
ZQ_MODULE_EXPORT int32_t ShowOccupationTypeForm();
ZQ_MODULE_EXPORT int32_t ShowHolderForm();
ZQ_MODULE_EXPORT int32_t ShowHolderReport();
ZQ_MODULE_EXPORT int32_t HolderImportExport();
