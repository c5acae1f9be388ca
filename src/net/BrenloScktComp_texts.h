// The socket layer's own texts, shown verbatim (single-byte ANSI), shared by its files.
#pragma once

namespace socket_texts {

inline constexpr char kWindowsSocketError[] = "Windows-Socket-Fehler: %s (%d), auf API '%s'";
inline constexpr char kAsyncSocketError[] = "Asynchroner Socket-Fehler %d";
inline constexpr char kCannotListenOnOpen[] =
    "Offener Socket kann nicht \xfc"
    "berwacht werden";
inline constexpr char kCannotCreateSocket[] = "Es kann kein neuer Socket erzeugt werden";
inline constexpr char kCannotChangeWhileActive[] =
    "Wert kann nicht ge\xe4ndert werden, w\xe4hrend der Socket aktiv ist";
inline constexpr char kNoNotifyWindow[] = "Das Benachrichtigungsfenster kann nicht erzeugt werden";

}  // namespace socket_texts
