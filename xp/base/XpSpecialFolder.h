#pragma once

#include <string>
#include <string_view>

/// The kinds of special folder, numbered as XpGetSpecialFolder takes them.
enum class XpSpecialFolder : int {
  Temp = 0,             ///< $TMPDIR, else /tmp
  Pictures = 1,         ///< the user's pictures folder
  Videos = 2,           ///< the user's videos folder
  Music = 3,            ///< the user's music folder
  Documents = 4,        ///< the user's documents folder
  Desktop = 5,          ///< the user's desktop folder
  SharedPictures = 6,   ///< no shared folders here: empty
  SharedVideos = 7,     ///< empty
  SharedMusic = 8,      ///< empty
  SharedDocuments = 9,  ///< empty
  AppData = 10,         ///< $XDG_DATA_HOME, else $HOME/.local/share
  ProgramFolder = 11,   ///< the folder that holds the running program file
  ProgramPath = 12,     ///< the full path of the running program file
  Profile = 13,         ///< the user's home folder
};

/// The path of a special folder, without a trailing separator; empty when the
/// kind is unknown or has no folder here, or the folder can't be found out.
/// Kinds 1 to 5 come from the user-dirs.dirs file in $XDG_CONFIG_HOME (else
/// $HOME/.config), falling back to $HOME/Pictures, Videos, Music, Documents and
/// Desktop. The home folder is $HOME, or the user's entry in the password
/// database when $HOME is unset or relative. The environment is read on every
/// call. Nothing is created.
[[nodiscard]] std::string XpGetSpecialFolder(int kind);
[[nodiscard]] std::string XpGetSpecialFolder(XpSpecialFolder kind);

/// Reads the entry `key` (such as "XDG_PICTURES_DIR") from the text of a
/// user-dirs.dirs file: lines KEY="$HOME/sub/folder" or KEY="/absolute/folder",
/// with backslash escapes inside the quotes; comments, other keys and malformed
/// lines are skipped, and the last good line for the key wins. "$HOME" is
/// replaced by `home`. Answers the folder without a trailing separator, or empty
/// when the key has no usable line (also when a $HOME line is found but `home`
/// is empty).
[[nodiscard]] std::string XpParseUserDirsEntry(std::string_view text, std::string_view key, std::string_view home);
