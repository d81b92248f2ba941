#pragma once
// The texts that the dialog's handlers put on screen, the same on every platform. The
// template texts (captions, labels) live with the templates.

namespace tarnlink {

inline constexpr char TEXT_LOAD_IMAGE[] = "Load Image";
inline constexpr char TEXT_CRYPT_IMAGE[] = "Crypt Image";
inline constexpr char TEXT_CANCEL[] = "Cancel";
inline constexpr char TEXT_NO_IMAGE_PATH[] = "Please specify a file to transmit";
inline constexpr char TEXT_NO_CRYPT_PATH[] =
    "Please specify path & name of a binary file to receive the crypt.";
/// String resource IDS_ABOUTBOX: the About item of the system menu.
inline constexpr char TEXT_ABOUT_MENU_ITEM[] = "&About Tarnlink...";
/// What the port field holds when the dialog opens.
inline constexpr char TEXT_INITIAL_COM_PORT[] = "1";
/// The file dialog's filter: name|pattern pairs, ended by an empty field.
inline constexpr char BROWSE_FILTER[] = "Binary (*.bin)|*.bin|All Files (*.*)|*.*||";

}  // namespace tarnlink
