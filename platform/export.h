/// @file
/// Symbol visibility of the library's public interface: exported from the
/// library, imported by its users.
/// @ingroup platform
#pragma once
/// @addtogroup platform
/// @{

#if defined(_WIN32)
#if defined(VANTREL_BUILDING)
#define VANTREL_API __declspec(dllexport)
#else
#define VANTREL_API __declspec(dllimport)
#endif
#else
/// Marks a name of the public interface.
#define VANTREL_API __attribute__((visibility("default")))
#endif

// printf-style checking of a function's format argument; C99 conversions
// (%zu, %lld) are what the library's formatting accepts on every system.
#if defined(_WIN32)
#define VANTREL_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
/// Checks the arguments of a function taking a printf format (argument fmt, values from args).
#define VANTREL_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

// The entry points of a module or render library, found by name at run time.
#if defined(_WIN32)
#define VANTREL_EXPORT __declspec(dllexport)
#else
/// Exports an entry point of a module or render library.
#define VANTREL_EXPORT __attribute__((visibility("default")))
#endif
/// @}
