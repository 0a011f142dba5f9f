#pragma once

namespace holwerk {

/// Separator the program puts between folder and file names it joins itself.
#ifdef _WIN32
inline constexpr char PathSeparator[] = "\\";
#else
inline constexpr char PathSeparator[] = "/";
#endif

}  // namespace holwerk
