// The GUID of the compiled model; the model description carries the same text.
#pragma once

#define FMI_MODEL_GUID "{5a3e9b7c-2f41-4d8e-9c06-7b1d2e4f8a93}"
