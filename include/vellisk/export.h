/// @file
/// VELLISK_API: what marks the library's public declarations as its interface. Each public
/// header opens its namespace with it (`namespace VELLISK_API vellisk {`), so that everything
/// declared there is exported from a shared libvellisk, while the library is built with its
/// symbols hidden by default (-fvisibility=hidden): its internals are not part of its ABI.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
/// Exported from a shared library, whatever the default visibility.
#define VELLISK_API [[gnu::visibility("default")]]
#else
/// Exported as the compiler exports everything.
#define VELLISK_API
#endif
