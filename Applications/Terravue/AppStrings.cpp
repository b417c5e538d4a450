#include "Applications/Terravue/AppStrings.h"

#include <QTranslator>
#include <array>
#include <string_view>

namespace {

struct BuiltInText {
  std::string_view key;
  const char* english;
  const char* japanese;
};

// The texts are UTF-8. The Japanese ones are written for Japanese users rather
// than translated word for word; placeholders stay in the same order.
constexpr std::array kTexts = {
    BuiltInText{"102", "Error has occurred.\n\nPlease unlock read-only or increase available space on the disk.",
                "エラーが発生しました。\n\n読み取り専用を解除するか、ディスクの空き容量を増やしてください。"},
    BuiltInText{"104",
                "The number of still images displayed on a map has exceeded %d. Data processing in Terravue may get "
                "slow.",
                "地図に表示する静止画が%d枚を超えました。Terravueの処理が遅くなることがあります。"},
    BuiltInText{"105", "ENU", "JPN"},
    BuiltInText{"106", "The maximum possible number of saved data is 255. \n\nDelete some data and try to save again.",
                "保存できるデータは255件までです。\n\n不要なデータを削除してから、もう一度保存してください。"},
    BuiltInText{"107", "To delete data, please follow on-screen instructions.",
                "データを削除するには、画面の指示に従って操作してください。"},
    BuiltInText{"108", "New data", "新しいデータ"},
    BuiltInText{"109", "\"%s\" (%s) will be deleted. Do you want to continue?",
                "「%s」(%s)を削除します。よろしいですか？"},
    BuiltInText{"110", "To save Terravue, please follow on-screen instructions.",
                "Terravueを保存するには、画面の指示に従って操作してください。"},
    BuiltInText{"111", "The Terravue is running. Quit the Terravue before starting the program.",
                "Terravueはすでに起動しています。Terravueを終了してから起動してください。"},
    BuiltInText{"112", "In Terravue, make sure to choose a still image.", "Terravueでは、静止画を選んでください。"},
    BuiltInText{"113",
                "There are no still images with recorded location information in the images selected. Click the "
                "still image to display the image on the map.",
                "選んだ画像の中に、位置情報が記録された静止画がありません。静止画をクリックすると、その画像を地図に"
                "表示できます。"},
    BuiltInText{"114", "Connection to the server has failed. (%x)", "サーバーに接続できませんでした。(%x)"},
    BuiltInText{"115", "Deletion has failed.", "削除できませんでした。"},
    BuiltInText{"116",
                "The selected image does not contain recorded location information. Only still images with recorded "
                "location information are displayed on a map. Click the still image to display the image on the map.",
                "選んだ画像には位置情報が記録されていません。地図に表示されるのは、位置情報が記録された静止画だけです。"
                "静止画をクリックすると、その画像を地図に表示できます。"},
    BuiltInText{"117", "Terravue has been updated. Would you like to save the file?",
                "Terravueの内容が変更されています。保存しますか？"},
    BuiltInText{"118", "The saved map could not be opened.", "保存した地図を開けませんでした。"},
    BuiltInText{"120",
                "If you apply recorded location information to the picture file '%s', the file may not be displayed "
                "properly by some devices or programs. Do you want to continue?",
                "画像ファイル「%s」に位置情報を書き込むと、機器やソフトウェアによっては正しく表示されなくなることがあり"
                "ます。続けますか？"},
    BuiltInText{"121", "Terravue", "Terravue"},

    // Why a saved map could not be opened: "%s" is the file, then the reason.
    BuiltInText{"open/failed", "The saved map could not be opened.\n\n%s\n\n%s",
                "保存した地図を開けませんでした。\n\n%s\n\n%s"},
    BuiltInText{"open/notInFolder", "The file does not lie in the folder of a saved map.",
                "このファイルは保存した地図のフォルダーにありません。"},
    BuiltInText{"open/missing", "The file does not exist.", "ファイルがありません。"},
    BuiltInText{"open/notReadable", "The file can't be read. Check that you are allowed to read it.",
                "ファイルを読み込めません。読み取りの権限があるか確認してください。"},
    BuiltInText{"open/damaged", "The file is damaged: its contents are not those of a saved map.",
                "ファイルが壊れています。保存した地図の内容ではありません。"},

    // What is wrong with a name given for a new saved map.
    BuiltInText{"name/empty", "Please enter a name for the map.", "地図の名前を入力してください。"},
    BuiltInText{"name/onlyDots", "A name made of dots only can't be used. Please enter another name.",
                "ピリオドだけの名前は使えません。別の名前を入力してください。"},
    BuiltInText{"name/separator", "A name can't contain \"/\". Please enter another name.",
                "名前に「/」は使えません。別の名前を入力してください。"},
    BuiltInText{"name/control", "A name can't contain line breaks or other control characters.",
                "名前に改行などの制御文字は使えません。"},
    BuiltInText{"name/tooLong", "This name is too long for the disk. Please enter a shorter name.",
                "この名前はディスクに保存するには長すぎます。短い名前を入力してください。"},

    // The buttons of the question whether to save a changed map.
    BuiltInText{"ask/save", "Save", "保存"},
    BuiltInText{"ask/discard", "Don't save", "保存しない"},
    BuiltInText{"ask/cancel", "Cancel", "キャンセル"},

    // Dropped files that were not added: "%d" their number, "%s" the reasons, one per line.
    BuiltInText{"drop/notAdded", "%d of the dropped items were not added:\n%s",
                "ドロップした項目のうち%d個は追加されませんでした:\n%s"},
    BuiltInText{"drop/notJpeg", "Not JPEG photos: %d", "JPEG写真ではない: %d"},
    BuiltInText{"drop/onMap", "Already on the map: %d", "すでに地図上にある: %d"},
    BuiltInText{"drop/ownFolder", "In Terravue's own folders: %d", "Terravueのフォルダー内: %d"},
    BuiltInText{"drop/emptyFolder", "Folders without JPEG photos: %d", "JPEG写真のないフォルダー: %d"},
    BuiltInText{"drop/overLimit", "More than one drop adds: %d", "1回のドロップで追加できる枚数を超えた分: %d"},

    // Pictures that could not be read when they went on the map: "%s" lists them, one per line.
    BuiltInText{"load/unreadable", "These pictures could not be read. They are shown without a thumbnail:\n\n%s",
                "次の画像を読み込めませんでした。サムネイルなしで表示します:\n\n%s"},
    // A save asked for while the thumbnails of the photos just added are still being made.
    BuiltInText{"load/thumbnailsPending",
                "The thumbnails of the photos just added are still being made. Save again when they are all shown; "
                "your moves are kept.",
                "追加した写真のサムネイルを作成中です。すべて表示されてから、もう一度保存してください。移動した位置はそ"
                "のまま残ります。"},
    BuiltInText{"load/notJpeg", "%s: not a JPEG picture inside", "%s: 中身がJPEG画像ではありません"},
    BuiltInText{"load/undecodable", "%s: the picture data can't be decoded (damaged, or a colour format such as CMYK)",
                "%s: 画像データを読み取れません(破損しているか、CMYKなど対応していない色形式です)"},

    // Help and browsers that could not be opened; "%s" is the address.
    BuiltInText{"about/text",
                "Terravue %s\n\nYour photos on a map: their positions read, moved and written back.\n"
                "Free software under the GNU General Public License, version 3 or later.\n\n"
                "Map data © OpenStreetMap contributors (ODbL 1.0), shown from the tile server the "
                "map layer names.\n"
                "Place names: GeoNames (https://www.geonames.org/), CC BY 4.0; country names from the "
                "iso-codes project, LGPL 2.1 or later.\n"
                "Time zones: © OpenStreetMap contributors, timezone-boundary-builder (ODbL 1.0).\n"
                "The map page uses Leaflet (BSD 2-clause) and Leaflet.markercluster (MIT).",
                "Terravue %s\n\n写真を地図に: 位置を読み取り、動かし、写真に書き戻します。\n"
                "GNU 一般公衆利用許諾書 (第3版以降) によるフリーソフトウェアです。\n\n"
                "地図データ © OpenStreetMap contributors (ODbL 1.0)。地図レイヤーのタイルサーバーから"
                "表示しています。\n"
                "地名: GeoNames (https://www.geonames.org/)、CC BY 4.0。国名は iso-codes "
                "プロジェクト (LGPL 2.1 以降) によります。\n"
                "タイムゾーン: © OpenStreetMap contributors, timezone-boundary-builder (ODbL 1.0)。\n"
                "地図ページは Leaflet (BSD 2条項) と Leaflet.markercluster (MIT) を使っています。"},
    BuiltInText{"help/failed", "The help could not be opened.\n\n%s", "ヘルプを開けませんでした。\n\n%s"},
    BuiltInText{"link/failed", "No web browser could be started to open this address:\n\n%s",
                "このアドレスを開くためのWebブラウザーを起動できませんでした:\n\n%s"},
    BuiltInText{"browser/failed",
                "The photo browser could not be started, so it has not been told about the pictures whose location "
                "changed.\n\n%s",
                "写真ブラウザーを起動できなかったため、位置情報を変更した画像を知らせることができませんでした。\n\n%s"},
    // A failed connection: "%s" says what happened in words; the number goes into the details.
    BuiltInText{"connect/failed", "The map could not be loaded: the connection to the map server failed.\n\n%s",
                "地図を読み込めませんでした。地図サーバーに接続できませんでした。\n\n%s"},
    BuiltInText{"connect/code", "Error code: %s", "エラーコード: %s"},
    BuiltInText{"connect/refused", "The server refused the connection.", "サーバーが接続を拒否しました。"},
    BuiltInText{"connect/closed", "The server closed the connection without an answer.",
                "サーバーが応答せずに接続を閉じました。"},
    BuiltInText{"connect/notFound", "The server's name could not be found.", "サーバーの名前が見つかりませんでした。"},
    BuiltInText{"connect/offline", "The computer is not connected to a network.",
                "コンピューターがネットワークに接続されていません。"},
    BuiltInText{"connect/timedOut", "The server did not answer in time.", "サーバーが時間内に応答しませんでした。"},
    BuiltInText{"connect/unreachable", "The server can't be reached from this computer.",
                "このコンピューターからサーバーに到達できません。"},
    BuiltInText{"connect/other", "The server could not be reached.", "サーバーに到達できませんでした。"},

    // Menu 151: the popup of the main window.
    BuiltInText{"151/32787", "Save Terravue as a new file (&S)", "新しいファイルとしてTerravueを保存(&S)"},
    BuiltInText{"151/32791", "Save Terravue (&U)", "Terravueを上書き保存(&U)"},
    BuiltInText{"151/32786", "Delete selected Terravue (&D)", "選んだTerravueを削除(&D)"},
    BuiltInText{"151/32792", "Help (&H)", "ヘルプ(&H)"},
    BuiltInText{"151/32800", "Load track... (&T)", "トラックを読み込む...(&T)"},
    BuiltInText{"151/32823", "Use these photos as a track (&P)", "これらの写真をトラックとして使う(&P)"},
    BuiltInText{"151/32810", "Undo (&Z)", "元に戻す(&Z)"},
    BuiltInText{"151/32811", "Redo (&R)", "やり直す(&R)"},
    BuiltInText{"151/32812", "Restore original positions... (&O)", "元の位置に戻す...(&O)"},
    BuiltInText{"151/32813", "Export... (&E)", "書き出す...(&E)"},
    BuiltInText{"151/32820", "Open a saved map... (&M)", "保存した地図を開く...(&M)"},
    BuiltInText{"151/32822", "Name places... (&N)", "地名を付ける...(&N)"},
    BuiltInText{"151/32821", "About Terravue (&A)", "Terravueについて(&A)"},
    // "Name places": the dialog, its preview table, and what the user is told around it.
    BuiltInText{"places/menu", "Name places...", "地名を付ける..."},
    BuiltInText{"places/title", "Name places", "地名を付ける"},
    BuiltInText{"places/intro",
                "Each photo gets the nearest place, with its state or region and country. Choose another "
                "place if the proposal is wrong. Nothing is written until you save the map.",
                "各写真に、最も近い地名と都道府県・州、国を付けます。違う場合は別の地名を選んでください。"
                "地図を保存するまで写真には何も書き込まれません。"},
    BuiltInText{"places/photo", "Photo", "写真"},
    BuiltInText{"places/place", "Place", "地名"},
    BuiltInText{"places/city", "City", "市区町村"},
    BuiltInText{"places/state", "State", "都道府県・州"},
    BuiltInText{"places/country", "Country", "国"},
    BuiltInText{"places/code", "Code", "国コード"},
    BuiltInText{"places/sublocation", "Sublocation", "地区"},
    BuiltInText{"places/review", "Check", "確認"},
    BuiltInText{"places/leave", "Leave as it is", "変更しない"},
    // "%s" why the proposal needs a look.
    BuiltInText{"places/check", "Please check: %s", "確認してください: %s"},
    // Why a proposal needs a check: "%s" the distance ("120 km"); the time zone; the place's
    // country code, the time zone and the country code the zone belongs to.
    BuiltInText{"places/reviewFar", "the nearest place is %s away", "最も近い地名まで%sあります"},
    BuiltInText{"places/reviewZoneAlone", "the time zone %s belongs to no country the zone table lists",
                "時間帯%sは、時間帯の一覧にあるどの国のものでもありません"},
    BuiltInText{"places/reviewOtherCountry", "the place is in %s, but the time zone there (%s) is %s's",
                "地名は%sにありますが、その場所の時間帯(%s)は%sのものです"},
    BuiltInText{"places/noZoneMap",
                "The time-zone map could not be read: the proposed countries are not checked against the time "
                "zone at each position.",
                "時間帯の地図を読み込めないため、提案された国をその場所の時間帯と照らし合わせていません。"},
    BuiltInText{"places/noZoneTable",
                "The system's time-zone table (zone1970.tab) could not be read: the proposed countries are not "
                "checked against the time zone at each position.",
                "システムの時間帯一覧(zone1970.tab)を読み込めないため、提案された国をその場所の時間帯と照らし"
                "合わせていません。"},
    BuiltInText{"places/name", "Name", "地名を付ける"},
    BuiltInText{"places/cancel", "Cancel", "キャンセル"},
    BuiltInText{"places/noneSelected", "Select the photos to name first, in the list or on the map.",
                "先に、一覧または地図で地名を付ける写真を選んでください。"},
    BuiltInText{"places/noIndex", "The place index could not be read, so no places can be named.",
                "地名データを読み込めないため、地名を付けられません。"},
    BuiltInText{"places/nothingToName",
                "None of the selected photos can be named: they have no position, or their metadata or XMP "
                "sidecar cannot be read.",
                "選んだ写真には地名を付けられません。位置情報がないか、メタデータまたはXMPサイドカーを"
                "読み込めません。"},
    // "%d" the selected photos that are not offered.
    BuiltInText{"places/leftOut",
                "%d of the selected photos are left out: no position, or metadata or an XMP sidecar that cannot "
                "be read.",
                "選んだ写真のうち%d枚は対象外です(位置情報がないか、メタデータまたはXMPサイドカーを読み込めません)。"},
    // The file dialog of "Open a saved map...".
    BuiltInText{"open/dialogTitle", "Open a saved map", "保存した地図を開く"},
    BuiltInText{"open/filter", "Saved maps", "保存した地図"},

    // Dialog 152: the progress bar has no texts. Dialog 153: the notice.
    BuiltInText{"153/title", "Terravue", "Terravue"},
    BuiltInText{"153/1001", "Do not show this message again", "今後このメッセージを表示しない"},
    BuiltInText{"153/ok", "OK", "OK"},
    BuiltInText{"153/1006", "Cancel", "キャンセル"},

    // Dialog 154: saving a map state.
    BuiltInText{"154/title", "Terravue", "Terravue"},
    BuiltInText{"154/text", "The screen status of the present image will be saved.", "現在の画面の状態を保存します。"},
    BuiltInText{"154/1004", "Name of the Terravue", "Terravueの名前"},
    BuiltInText{"154/ok", "Save", "保存"},
    BuiltInText{"154/cancel", "Cancel", "キャンセル"},

    // Dialog 163: the privacy notice.
    BuiltInText{"163/title", "Terravue", "Terravue"},
    BuiltInText{"163/text",
                "When you use this feature, the longitude and latitude information with the path to the image will be "
                "sent to the Ardo's server and the longitude and latitude information will be sent to the server of "
                "the map service provider.",
                "この機能を使うと、緯度と経度の情報が画像のパスとともにArdoのサーバーに送られ、緯度と経度の情報が地図"
                "サービス提供者のサーバーに送られます。"},
    BuiltInText{"163/ok", "Continue", "続行"},

    // The main window's report of pictures whose new position could not be
    // written; "%s" is the list, one picture a line: its file name, ": " and
    // the reason below.
    BuiltInText{"writeback/failed",
                "The new location could not be written to these pictures:\n\n%s\n\nThey keep their new location "
                "on the map and stay marked as not yet written; the next save tries them again.\n\n%s",
                "次の画像に新しい位置情報を書き込めませんでした:\n\n%s\n\nこれらの画像は地図上の新しい位置のまま、"
                "未書き込みとして残ります。次に保存するときに、もう一度書き込みます。\n\n%s"},
    // The save's progress dialog: how far writing into the photos has come
    // ("%s of %s" photos), its button, and the report after a stop (photos
    // written, photos still to write).
    BuiltInText{"save/progress", "Writing the new locations into the photos: %s of %s",
                "写真に新しい位置情報を書き込んでいます: %s / %s"},
    BuiltInText{"save/stop", "Stop", "中止"},
    // After a save: "%s" the photos (one file name a line) whose place names went to an XMP
    // sidecar because their kind keeps none in its file.
    BuiltInText{"save/namesInSidecar",
                "The place names of these photos were written to an XMP sidecar beside each photo (photo.ext.xmp), "
                "as this kind of file keeps no place names of its own:\n\n%s",
                "次の写真の地名は、写真の横のXMPサイドカー(写真名.拡張子.xmp)に書き込みました。この種類のファイルには"
                "地名を記録できないためです:\n\n%s"},
    BuiltInText{"save/stopped",
                "The save was stopped. Photos written: %s.\n\nPhotos not yet written: %s. They keep their new "
                "location on the map and stay marked as not yet written; the next save writes them.",
                "保存を中止しました。書き込んだ写真: %s枚\n\nまだ書き込んでいない写真: %s枚。これらの写真は地図上の"
                "新しい位置のまま、未書き込みとして残ります。次に保存するときに書き込みます。"},
    // The report's buttons besides OK, and what the second one does.
    BuiltInText{"writeback/retry", "Try again", "もう一度書き込む"},
    BuiltInText{"writeback/maponly", "Keep the position on the map only", "位置を地図上だけに残す"},
    BuiltInText{"writeback/maponlyhint",
                "\"Keep the position on the map only\" leaves these files as they are: the map keeps the new "
                "location, and saving no longer tries to write it.",
                "「位置を地図上だけに残す」を選ぶと、これらのファイルはそのままになります。新しい位置は地図上にだけ"
                "残り、保存しても書き込まれなくなります。"},
    // What helps, one line for each reason that occurred.
    BuiltInText{"advice/readonly", "Read-only files: allow writing to the file and its folder, then save again.",
                "読み取り専用のファイル: ファイルとフォルダーへの書き込みを許可してから、もう一度保存してください。"},
    BuiltInText{
        "advice/missing", "Files not found: connect the disk that holds them or put them back, then save again.",
        "見つからないファイル: ファイルのあるディスクを接続するか元の場所に戻してから、もう一度保存してください。"},
    BuiltInText{"advice/changed",
                "Files changed by another program: saving again writes the new location into the file as it is now.",
                "別のプログラムが変更したファイル: もう一度保存すると、今のファイルに新しい位置情報を書き込みます。"},
    BuiltInText{"advice/damaged",
                "Files with damaged Exif data: saving again does not help. Repair the file with another program, "
                "or take the photo off the map.",
                "Exifデータが壊れたファイル: もう一度保存しても書き込めません。別のプログラムでファイルを修復するか、"
                "写真を地図から外してください。"},
    BuiltInText{"advice/notwritable",
                "Files that are not photos this program reads: saving again does not help. Their new locations "
                "stay on the map.",
                "このプログラムが読めない写真ファイル: もう一度保存しても書き込めません。新しい位置は地図に残ります。"},
    BuiltInText{"advice/positioninphoto",
                "Photos that keep a location in their own data: that location stays in the photo file, which is "
                "never changed for these kinds; remove it with another program if it must go.",
                "写真自体のデータに位置情報がある写真: この種類の写真ファイルは変更しないため、位置情報は残ります。"
                "消す必要がある場合は別のプログラムで削除してください。"},
    BuiltInText{"advice/sidecardamaged",
                "Photos with a damaged XMP sidecar: repair or remove the sidecar (the photo's name with .xmp), "
                "then save again.",
                "XMPサイドカーが壊れた写真: サイドカー(写真の名前に .xmp を付けたファイル)を修復するか削除してから、"
                "もう一度保存してください。"},
    BuiltInText{"advice/diskfull", "Disk full: free some space on the disk, then save again.",
                "ディスクの空き不足: ディスクの空き容量を増やしてから、もう一度保存してください。"},
    BuiltInText{"advice/declined", "Pictures you chose not to change: save again and answer Yes to change them.",
                "変更しないことを選んだ画像: もう一度保存し、変更するかどうかの質問に「はい」と答えてください。"},
    BuiltInText{"advice/badcoordinate", "Invalid locations: move the photo on the map again, then save.",
                "正しくない位置: 地図上で写真をもう一度移動してから保存してください。"},
    BuiltInText{"advice/other", "Other errors: save again later; if the error stays, check the disk.",
                "その他のエラー: 後でもう一度保存してください。エラーが続くときは、ディスクを確認してください。"},
    BuiltInText{"writeback/readonly", "the file is read-only", "ファイルが読み取り専用です"},
    BuiltInText{"writeback/missing", "the file was not found", "ファイルが見つかりません"},
    BuiltInText{"writeback/changed", "the file was changed by another program since it was loaded",
                "読み込んだ後に別のプログラムがファイルを変更しました"},
    BuiltInText{"writeback/damaged", "its Exif data is damaged", "Exifデータが壊れています"},
    BuiltInText{"writeback/diskfull", "there is not enough space on the disk", "ディスクの空き容量が足りません"},
    BuiltInText{"writeback/declined", "you chose not to change it", "変更しないことを選びました"},
    BuiltInText{"writeback/badcoordinate", "its new location is not a valid position",
                "新しい位置が正しい緯度・経度ではありません"},
    BuiltInText{"writeback/toomanysegments",
                "the file has far more JPEG segments than a photo has, so it is left alone",
                "JPEGのセグメントが写真としては多すぎるため、ファイルはそのままにしました"},
    BuiltInText{"writeback/notwritable",
                "its content is no photo this program reads any more, so the file is left unchanged",
                "このプログラムが読める写真ではなくなったため、ファイルはそのままにしました"},
    BuiltInText{"writeback/positioninphoto",
                "the photo keeps a location in its own data, which is never changed for this kind of photo, so "
                "nothing was removed",
                "写真自体のデータに位置情報があり、この種類の写真は変更しないため、何も削除していません"},
    BuiltInText{"writeback/sidecardamaged",
                "its XMP sidecar is damaged or could not be written correctly, so it is left unchanged",
                "XMPサイドカーが壊れているか正しく書き込めなかったため、そのままにしました"},
    BuiltInText{"writeback/other", "the file could not be written (error %s)",
                "ファイルに書き込めませんでした(エラー %s)"},
    // After a save that wrote into raw files themselves (setting raw_in_file): their names, one a line.
    BuiltInText{"writeback/rawinplace",
                "The new location was written into these raw files themselves, as the setting raw_in_file "
                "allows:\n\n%s\n\nThe camera maker's software may refuse a raw file that was changed. "
                "\"Restore original positions\" puts them back as they were.",
                "設定 raw_in_file に従い、次の RAW ファイルそのものに新しい位置情報を書き込みました:\n\n%s\n\n"
                "カメラメーカーのソフトウェアは、変更された RAW ファイルを受け付けないことがあります。"
                "「元の位置に戻す」で元の状態に戻せます。"},

    // "Restore original positions...": the question ("%d" photos, then one
    // line per photo: its file name and the position it gets back), the photos
    // left as they are, and the report.
    BuiltInText{"restore/question",
                "Photos to put back exactly as they were before Terravue wrote them: %d\n\n%s\n\nMoves of these "
                "photos that are not saved yet are dropped. Put them back?",
                "Terravueが書き込む前の状態に%d枚の写真をそのまま戻しますか?\n\n%s\n\nこれらの写真のまだ保存して"
                "いない移動は取り消されます。"},
    BuiltInText{"restore/left", "These photos stay as they are:\n\n%s", "次の写真はそのままにします:\n\n%s"},
    BuiltInText{"restore/none", "No photo of this map can be put back:\n\n%s",
                "この地図の写真はどれも元に戻せません:\n\n%s"},
    BuiltInText{"restore/nothing", "Terravue has not written any photo of this map, so there is nothing to put back.",
                "Terravueはこの地図の写真に書き込んでいないため、元に戻すものはありません。"},
    BuiltInText{"restore/done", "Photos put back as they were before Terravue wrote them: %d",
                "%d枚の写真をTerravueが書き込む前の状態に戻しました。"},
    BuiltInText{"restore/changed", "the file was changed by another program since Terravue wrote it",
                "Terravueが書き込んだ後に別のプログラムがファイルを変更しました"},
    BuiltInText{"restore/nothingkept", "Terravue keeps nothing of it any more", "Terravueの記録が残っていません"},
    BuiltInText{"restore/noposition", "no position", "位置情報なし"},
    BuiltInText{"restore/more", "and %d more", "ほか%d枚"},

    // The track-log panel.
    BuiltInText{"track/title", "GPS track", "GPSトラック"},
    BuiltInText{"track/zoneLabel", "Camera time zone:", "カメラのタイムゾーン:"},
    BuiltInText{"track/zoneHint", "this computer's zone", "このコンピューターのタイムゾーン"},
    BuiltInText{"track/zoneHintPosition", "the zone where each photo was taken", "各写真の撮影地のタイムゾーン"},
    BuiltInText{"track/zoneTip",
                "The camera's time zone, such as +09:00 or -05:30. Photos that record their own zone use it.",
                "カメラのタイムゾーン(+09:00、-05:30など)。タイムゾーンを記録している写真は、その値を使います。"},
    BuiltInText{"track/offsetLabel", "Camera clock offset:", "カメラの時計のずれ:"},
    BuiltInText{"track/offsetTip",
                "How far the camera's clock was ahead of the true time (h:mm:ss, with - when it was behind).",
                "カメラの時計が正しい時刻より進んでいた時間(h:mm:ss。遅れていたときは - を付けます)。"},
    BuiltInText{"track/leaveLocated", "Leave photos that already have a position",
                "位置情報のある写真はそのままにする"},
    BuiltInText{"track/fromSelected", "Set offset from the selected photo", "選んだ写真から時計のずれを求める"},
    BuiltInText{"track/fromSelectedTip", "Drag one photo to where it was taken, select it, then press this.",
                "写真を1枚、撮影した場所へドラッグして選んでから、このボタンを押してください。"},
    BuiltInText{"track/apply", "Apply", "適用"},
    BuiltInText{"track/load", "Load track...", "トラックを読み込む..."},
    BuiltInText{"track/close", "Close", "閉じる"},
    BuiltInText{"track/badOptions", "The time zone or the clock offset is not understood.",
                "タイムゾーンまたは時計のずれを読み取れません。"},
    // "%d" the photos the track places, then those it does not.
    BuiltInText{"track/preview", "Photos to place: %d. Without a match in the track: %d.",
                "配置する写真: %d枚。トラックに一致しない写真: %d枚。"},
    BuiltInText{"track/none", "No track loaded.", "トラックが読み込まれていません。"},
    BuiltInText{"track/zoneChoiceLabel", "Camera clock zone:", "カメラの時計のゾーン:"},
    BuiltInText{"track/zoneAuto", "Zone from position", "位置から求める"},
    BuiltInText{"track/zoneChoiceTip",
                "For photos that record no time zone: the zone where the track is on each photo's date, or the "
                "zone chosen here.",
                "タイムゾーンが記録されていない写真に使います。各写真の日付にトラックがある場所のタイムゾーン、またはこ"
                "こで選んだタイムゾーンです。"},
    BuiltInText{"track/clockFromPosition", "Camera clock: %s %s (from position)", "カメラの時計: %s %s(位置から)"},
    BuiltInText{"track/clockChosen", "Camera clock: %s %s (chosen)", "カメラの時計: %s %s(選択)"},
    BuiltInText{"track/clockDiffers", "Photos differ: %s.", "写真によって異なります: %s。"},
    BuiltInText{
        "track/crossing",
        "This trip crosses a time zone or a daylight saving change; each photo is read in the zone where "
        "it was taken.",
        "この旅程はタイムゾーンまたは夏時間の切り替えをまたいでいます。写真ごとに撮影地のタイムゾーンで読み取ります。"},
    BuiltInText{"track/trackSpan", "Track: %s – %s on this computer's clock, %s – %s on the camera's clock.",
                "トラック: このコンピューターの時刻で %s – %s、カメラの時計で %s – %s。"},
    BuiltInText{"track/photoSpan", "Photos: %s – %s on the camera's clock.", "写真: カメラの時計で %s – %s。"},
    BuiltInText{"track/noPhotoTimes", "Photos: no photo to place has a capture time.",
                "写真: 撮影日時のある配置対象の写真がありません。"},
    BuiltInText{"track/noOverlap",
                "They were not taken while the track was recorded: check the camera's time zone and clock offset.",
                "トラックの記録中に撮られた写真がありません。カメラのタイムゾーンと時計のずれを確かめてください。"},
    BuiltInText{"track/applied", "Photos moved: %d. Save the map to write them.",
                "移動した写真: %d枚。地図を保存すると写真に書き込まれます。"},
    BuiltInText{"track/dialogTitle", "Load track", "トラックを読み込む"},
    BuiltInText{"track/filterLogs", "GPS track logs", "GPSトラックログ"},
    BuiltInText{"track/filterAll", "All files", "すべてのファイル"},

    // Exporting the photos of the map.
    BuiltInText{"export/dialogTitle", "Export photos", "写真を書き出す"},
    BuiltInText{"export/filterGpx", "GPX waypoints", "GPXウェイポイント"},
    BuiltInText{"export/filterGpxTrack", "GPX waypoints and track in time order",
                "GPXウェイポイントと時刻順のトラック"},
    BuiltInText{"export/filterKml", "KML", "KML"},
    BuiltInText{"export/filterKmz", "KMZ with thumbnails", "サムネイル付きKMZ"},
    BuiltInText{"export/filterGeoJson", "GeoJSON", "GeoJSON"},
    BuiltInText{"export/nothing", "None of these photos has a position, so there is nothing to export.",
                "位置情報のある写真がないため、書き出すものがありません。"},
    BuiltInText{"export/busy", "Photos are being loaded or saved; export them when that is done.",
                "写真の読み込みまたは保存中です。終わってから書き出してください。"},
    BuiltInText{"export/toolarge", "Too many or too large thumbnails for a KMZ file.",
                "KMZファイルにはサムネイルが多すぎるか大きすぎます。"},
    BuiltInText{"export/failed", "\"%s\" could not be written: %s.\nNo file was left there.",
                "「%s」を書き込めませんでした: %s。\nファイルは残していません。"},
    // The photos of the map as a track for the others.
    BuiltInText{"photoTrack/name", "the photos used as a track", "トラックとして使う写真"},
    BuiltInText{"photoTrack/nothing",
                "None of these photos has both a position and a capture time, so they make no track.",
                "位置情報と撮影日時の両方がある写真がないため、トラックにできません。"},
    BuiltInText{"photoTrack/busy", "Photos are being loaded or saved; use them as a track when that is done.",
                "写真の読み込みまたは保存中です。終わってからトラックとして使ってください。"},
    BuiltInText{"track/invalid", "\"%s\" is not a GPX or NMEA track log.",
                "「%s」はGPXまたはNMEAのトラックログではありません。"},
    BuiltInText{"track/tooLarge", "\"%s\" is too large for a track log (more than %d MB or %d points).",
                "「%s」はトラックログとして大きすぎます(%d MBまたは%d点を超えています)。"},
    BuiltInText{"track/unreadable", "\"%s\" could not be read (%s).", "「%s」を読み込めませんでした(%s)。"},
    BuiltInText{"track/notKept", "Not every track could be kept with the saved map (%s).",
                "保存した地図にトラックの一部を残せませんでした(%s)。"},
    BuiltInText{"track/selectFirst",
                "Select a photo with a capture time on the map, after dragging it to where it was taken.",
                "撮影日時のある写真を撮影した場所へドラッグしてから、地図上でその写真を選んでください。"},
};

constexpr const char* kOverrideContext = "PtvTvLocale";

}  // namespace

AppStrings& AppStrings::Instance() {
  static AppStrings instance;
  return instance;
}

QString AppStrings::BuiltIn(const QString& key, Language language) {
  const QByteArray utf8 = key.toUtf8();
  const std::string_view wanted(utf8.constData(), static_cast<std::size_t>(utf8.size()));
  for (const BuiltInText& text : kTexts) {
    if (text.key == wanted) {
      return QString::fromUtf8(language == Language::Japanese ? text.japanese : text.english);
    }
  }
  return {};
}

QString AppStrings::Text(const QString& key) const {
  if (m_override != nullptr) {
    const QByteArray source = key.toUtf8();
    QString text = m_override->translate(kOverrideContext, source.constData());
    if (!text.isEmpty()) {
      return text;
    }
  }
  QString text = BuiltIn(key, m_language);
  if (text.isEmpty() && m_language != Language::English) {
    text = BuiltIn(key, Language::English);
  }
  return text;
}

bool IsJapaneseUiLanguage(const QStringList& uiLanguages) {
  if (uiLanguages.isEmpty()) {
    return false;
  }
  const QString first = uiLanguages.front().toLower();
  return first == QLatin1String("ja") || first.startsWith(QLatin1String("ja-")) ||
         first.startsWith(QLatin1String("ja_"));
}

QString FormatText(const QString& pattern, const QStringList& args) {
  QString out;
  out.reserve(pattern.size() + 32);
  qsizetype next = 0;
  for (qsizetype i = 0; i < pattern.size(); ++i) {
    const QChar c = pattern.at(i);
    if (c != QLatin1Char('%') || i + 1 >= pattern.size()) {
      out.append(c);
      continue;
    }
    const QChar conversion = pattern.at(i + 1);
    if (conversion == QLatin1Char('%')) {
      out.append(QLatin1Char('%'));
      ++i;
    } else if (conversion == QLatin1Char('s') || conversion == QLatin1Char('d') || conversion == QLatin1Char('x')) {
      if (next < args.size()) {
        out.append(args.at(next));
      }
      ++next;
      ++i;
    } else {
      out.append(c);
    }
  }
  return out;
}
