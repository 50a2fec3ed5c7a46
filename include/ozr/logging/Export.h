#pragma once

// Marks the classes and functions that libOstrel.Logging.so exports; everything else stays hidden.
#define OZR_LOGGING_API __attribute__((visibility("default")))
