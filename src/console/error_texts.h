#pragma once

// The texts the console shows for the engine's error reports, where the
// window would put them in a message box.

#include <string>

namespace vespar {

// DLGN_ERROR: 404 "파일이 없습니다.", 8 "호스트를 알 수 없습니다.", a clear
// sentence for each of the codes 21 to 27, else "Network Error Code Number :
// <code>". `writeError` is the errno of a failed part-file write (code 22;
// 0 when unknown) and is named in its text.
std::u16string EngineErrorText(int code, int writeError = 0);

// DLGN_SOCKET_ERROR: empty for 0 (nothing happened) and for 10054 (a reset,
// shown only as the part's state), else "Last Error Code Number : <code>".
std::u16string SocketErrorText(int code);

}  // namespace vespar
