#include "feeds/ISOLanguages.h"

#include <QLocale>
#include <array>

namespace {

constexpr quint16 kEnglishUnitedStates = 1033;

// clang-format off
constexpr std::array<TISOLanguage, 136> kLanguages{{
    {"af-ZA", "Afrikaans (South Africa)", 1078, "Windows-1252", "iso-8859-1"},
    {"sq-AL", "Albanian (Albania)", 1052, "Windows-1250", "iso-8859-2"},
    {"ar-DZ", "Arabic (Algeria)", 5121, "Windows-1256", "windows-1256"},
    {"ar-BH", "Arabic (Bahrain)", 15361, "Windows-1256", "windows-1256"},
    {"ar-EG", "Arabic (Egypt)", 3073, "Windows-1256", "windows-1256"},
    {"ar-IQ", "Arabic (Iraq)", 2049, "Windows-1256", "windows-1256"},
    {"ar-JO", "Arabic (Jordan)", 11265, "Windows-1256", "windows-1256"},
    {"ar-KW", "Arabic (Kuwait)", 13313, "Windows-1256", "windows-1256"},
    {"ar-LB", "Arabic (Lebanon)", 12289, "Windows-1256", "windows-1256"},
    {"ar-LY", "Arabic (Libya)", 4097, "Windows-1256", "windows-1256"},
    {"ar-MA", "Arabic (Morocco)", 6145, "Windows-1256", "windows-1256"},
    {"ar-OM", "Arabic (Oman)", 8193, "Windows-1256", "windows-1256"},
    {"ar-QA", "Arabic (Qatar)", 16385, "Windows-1256", "windows-1256"},
    {"ar-SA", "Arabic (Saudi Arabia)", 1025, "Windows-1256", "windows-1256"},
    {"ar-SY", "Arabic (Syria)", 10241, "Windows-1256", "windows-1256"},
    {"ar-TN", "Arabic (Tunisia)", 7169, "Windows-1256", "windows-1256"},
    {"ar-AE", "Arabic (United Arab Emirates)", 14337, "Windows-1256", "windows-1256"},
    {"ar-YE", "Arabic (Yemen)", 9217, "Windows-1256", "windows-1256"},
    {"hy-AM", "Armenian (Armenia)", 1067, "utf_hy", "utf_hy"},
    {"Cy-az-AZ", "Azeri (Cyrillic) (Azerbaijan)", 2092, "Windows-1251", "windows-1251"},
    {"Lt-az-AZ", "Azeri (Latin) (Azerbaijan)", 1068, "Windows-1254", "iso-8859-9"},
    {"eu-ES", "Basque (Spain)", 1069, "Windows-1252", "iso-8859-1"},
    {"be-BY", "Belarusian (Belarus)", 1059, "Windows-1251", "windows-1251"},
    {"bg-BG", "Bulgarian (Bulgaria)", 1026, "Windows-1251", "windows-1251"},
    {"ca-ES", "Catalan (Spain)", 1027, "Windows-1252", "iso-8859-1"},
    {"zh-CN", "Chinese (China)", 2052, "Windows-936", "gb2312"},
    {"zh-HK", "Chinese (Hong Kong SAR)", 3076, "Windows-950", "big5"},
    {"zh-MO", "Chinese (Macau SAR)", 5124, "Windows-950", "big5"},
    {"zh-SG", "Chinese (Singapore)", 4100, "Windows-936", "gb2312"},
    {"zh-TW", "Chinese (Taiwan)", 1028, "Windows-950", "big5"},
    {"zh-CHS", "Chinese (Simplified)", 4, "Windows-936", "gb2312"},
    {"zh-CHT", "Chinese (Traditional)", 31748, "Windows-950", "big5"},
    {"hr-HR", "Croatian (Croatia)", 1050, "Windows-1250", "iso-8859-2"},
    {"cs-CZ", "Czech (Czech Republic)", 1029, "Windows-1250", "iso-8859-2"},
    {"da-DK", "Danish (Denmark)", 1030, "Windows-1252", "iso-8859-1"},
    {"div-MV", "Dhivehi (Maldives)", 1125, "UTF-8", "utf-8"},
    {"nl-BE", "Dutch (Belgium)", 2067, "Windows-1252", "iso-8859-1"},
    {"nl-NL", "Dutch (Netherlands)", 1043, "Windows-1252", "iso-8859-1"},
    {"en-AU", "English (Australia)", 3081, "Windows-1252", "iso-8859-1"},
    {"en-BZ", "English (Belize)", 10249, "Windows-1252", "iso-8859-1"},
    {"en-CA", "English (Canada)", 4105, "Windows-1252", "iso-8859-1"},
    {"en-CB", "English (Caribbean)", 9225, "Windows-1252", "iso-8859-1"},
    {"en-IE", "English (Ireland)", 6153, "Windows-1252", "iso-8859-1"},
    {"en-JM", "English (Jamaica)", 8201, "Windows-1252", "iso-8859-1"},
    {"en-NZ", "English (New Zealand)", 5129, "Windows-1252", "iso-8859-1"},
    {"en-PH", "English (Philippines)", 13321, "Windows-1252", "iso-8859-1"},
    {"en-ZA", "English (South Africa)", 7177, "Windows-1252", "iso-8859-1"},
    {"en-TT", "English (Trinidad and Tobago)", 11273, "Windows-1252", "iso-8859-1"},
    {"en-GB", "English (United Kingdom)", 2057, "Windows-1252", "iso-8859-1"},
    {"en-US", "English (United States)", 1033, "Windows-1252", "iso-8859-1"},
    {"en-ZW", "English (Zimbabwe)", 12297, "Windows-1252", "iso-8859-1"},
    {"et-EE", "Estonian (Estonia)", 1061, "Windows-1257", "iso-8859-13"},
    {"fo-FO", "Faroese (Faroe Islands)", 1080, "Windows-1252", "iso-8859-1"},
    {"fa-IR", "Farsi (Iran)", 1065, "Windows-1256", "windows-1256"},
    {"fi-FI", "Finnish (Finland)", 1035, "Windows-1252", "iso-8859-1"},
    {"fr-BE", "French (Belgium)", 2060, "Windows-1252", "iso-8859-1"},
    {"fr-CA", "French (Canada)", 3084, "Windows-1252", "iso-8859-1"},
    {"fr-FR", "French (France)", 1036, "Windows-1252", "iso-8859-1"},
    {"fr-LU", "French (Luxembourg)", 5132, "Windows-1252", "iso-8859-1"},
    {"fr-MC", "French (Monaco)", 6156, "Windows-1252", "iso-8859-1"},
    {"fr-CH", "French (Switzerland)", 4108, "Windows-1252", "iso-8859-1"},
    {"gl-ES", "Galician (Spain)", 1110, "Windows-1252", "iso-8859-1"},
    {"ka-GE", "Georgian (Georgia)", 1079, "UTF-8", "utf-8"},
    {"de-AT", "German (Austria)", 3079, "Windows-1252", "iso-8859-1"},
    {"de-DE", "German (Germany)", 1031, "Windows-1252", "iso-8859-1"},
    {"de-LI", "German (Liechtenstein)", 5127, "Windows-1252", "iso-8859-1"},
    {"de-LU", "German (Luxembourg)", 4103, "Windows-1252", "iso-8859-1"},
    {"de-CH", "German (Switzerland)", 2055, "Windows-1252", "iso-8859-1"},
    {"el-GR", "Greek (Greece)", 1032, "Windows-1253", "iso-8859-7"},
    {"gu-IN", "Gujarati (India)", 1095, "UTF-8", "utf-8"},
    {"he-IL", "Hebrew (Israel)", 1037, "Windows-1255", "iso-8859-8"},
    {"hi-IN", "Hindi (India)", 1081, "UTF-8", "utf-8"},
    {"hu-HU", "Hungarian (Hungary)", 1038, "Windows-1250", "iso-8859-2"},
    {"is-IS", "Icelandic (Iceland)", 1039, "Windows-1252", "iso-8859-1"},
    {"id-ID", "Indonesian (Indonesia)", 1057, "Windows-1252", "iso-8859-1"},
    {"it-IT", "Italian (Italy)", 1040, "Windows-1252", "iso-8859-1"},
    {"it-CH", "Italian (Switzerland)", 2064, "Windows-1252", "iso-8859-1"},
    {"ja-JP", "Japanese (Japan)", 1041, "Windows-932", "shift_jis"},
    {"kn-IN", "Kannada (India)", 1099, "UTF-8", "utf-8"},
    {"kk-KZ", "Kazakh (Kazakhstan)", 1087, "Windows-1251", "windows-1251"},
    {"kok-IN", "Konkani (India)", 1111, "UTF-8", "utf-8"},
    {"ko-KR", "Korean (Korea)", 1042, "Windows-949", "ks_c_5601-1987"},
    {"ky-KZ", "Kyrgyz (Kazakhstan)", 1088, "Windows-1251", "windows-1251"},
    {"lv-LV", "Latvian (Latvia)", 1062, "Windows-1257", "iso-8859-13"},
    {"lt-LT", "Lithuanian (Lithuania)", 1063, "Windows-1257", "iso-8859-13"},
    {"mk-MK", "Macedonian (North Macedonia)", 1071, "Windows-1251", "windows-1251"},
    {"ms-BN", "Malay (Brunei)", 2110, "Windows-1252", "iso-8859-1"},
    {"ms-MY", "Malay (Malaysia)", 1086, "Windows-1252", "iso-8859-1"},
    {"mr-IN", "Marathi (India)", 1102, "UTF-8", "utf-8"},
    {"mn-MN", "Mongolian (Mongolia)", 1104, "Windows-1251", "windows-1251"},
    {"nb-NO", "Norwegian (Bokmal) (Norway)", 1044, "Windows-1252", "iso-8859-1"},
    {"nn-NO", "Norwegian (Nynorsk) (Norway)", 2068, "Windows-1252", "iso-8859-1"},
    {"pl-PL", "Polish (Poland)", 1045, "Windows-1250", "iso-8859-2"},
    {"pt-BR", "Portuguese (Brazil)", 1046, "Windows-1252", "iso-8859-1"},
    {"pt-PT", "Portuguese (Portugal)", 2070, "Windows-1252", "iso-8859-1"},
    {"pa-IN", "Punjabi (India)", 1094, "UTF-8", "utf-8"},
    {"ro-RO", "Romanian (Romania)", 1048, "Windows-1250", "iso-8859-2"},
    {"ru-RU", "Russian (Russia)", 1049, "Windows-1251", "windows-1251"},
    {"sa-IN", "Sanskrit (India)", 1103, "UTF-8", "utf-8"},
    {"Cy-sr-SP", "Serbian (Cyrillic) (Serbia)", 3098, "Windows-1251", "windows-1251"},
    {"Lt-sr-SP", "Serbian (Latin) (Serbia)", 2074, "Windows-1250", "iso-8859-2"},
    {"sk-SK", "Slovak (Slovakia)", 1051, "Windows-1250", "iso-8859-2"},
    {"sl-SI", "Slovenian (Slovenia)", 1060, "Windows-1250", "iso-8859-2"},
    {"es-AR", "Spanish (Argentina)", 11274, "Windows-1252", "iso-8859-1"},
    {"es-BO", "Spanish (Bolivia)", 16394, "Windows-1252", "iso-8859-1"},
    {"es-CL", "Spanish (Chile)", 13322, "Windows-1252", "iso-8859-1"},
    {"es-CO", "Spanish (Colombia)", 9226, "Windows-1252", "iso-8859-1"},
    {"es-CR", "Spanish (Costa Rica)", 5130, "Windows-1252", "iso-8859-1"},
    {"es-DO", "Spanish (Dominican Republic)", 7178, "Windows-1252", "iso-8859-1"},
    {"es-EC", "Spanish (Ecuador)", 12298, "Windows-1252", "iso-8859-1"},
    {"es-SV", "Spanish (El Salvador)", 17418, "Windows-1252", "iso-8859-1"},
    {"es-GT", "Spanish (Guatemala)", 4106, "Windows-1252", "iso-8859-1"},
    {"es-HN", "Spanish (Honduras)", 18442, "Windows-1252", "iso-8859-1"},
    {"es-MX", "Spanish (Mexico)", 2058, "Windows-1252", "iso-8859-1"},
    {"es-NI", "Spanish (Nicaragua)", 19466, "Windows-1252", "iso-8859-1"},
    {"es-PA", "Spanish (Panama)", 6154, "Windows-1252", "iso-8859-1"},
    {"es-PY", "Spanish (Paraguay)", 15370, "Windows-1252", "iso-8859-1"},
    {"es-PE", "Spanish (Peru)", 10250, "Windows-1252", "iso-8859-1"},
    {"es-PR", "Spanish (Puerto Rico)", 20490, "Windows-1252", "iso-8859-1"},
    {"es-ES", "Spanish (Spain)", 3082, "Windows-1252", "iso-8859-1"},
    {"es-UY", "Spanish (Uruguay)", 14346, "Windows-1252", "iso-8859-1"},
    {"es-VE", "Spanish (Venezuela)", 8202, "Windows-1252", "iso-8859-1"},
    {"sw-KE", "Swahili (Kenya)", 1089, "Windows-1252", "iso-8859-1"},
    {"sv-FI", "Swedish (Finland)", 2077, "Windows-1252", "iso-8859-1"},
    {"sv-SE", "Swedish (Sweden)", 1053, "Windows-1252", "iso-8859-1"},
    {"syr-SY", "Syriac (Syria)", 1114, "UTF-8", "utf-8"},
    {"ta-IN", "Tamil (India)", 1097, "UTF-8", "utf-8"},
    {"tt-RU", "Tatar (Russia)", 1092, "Windows-1251", "windows-1251"},
    {"te-IN", "Telugu (India)", 1098, "UTF-8", "utf-8"},
    {"th-TH", "Thai (Thailand)", 1054, "Windows-874", "tis620"},
    {"tr-TR", "Turkish (Turkey)", 1055, "Windows-1254", "iso-8859-9"},
    {"uk-UA", "Ukrainian (Ukraine)", 1058, "Windows-1251", "windows-1251"},
    {"ur-PK", "Urdu (Pakistan)", 1056, "Windows-1256", "windows-1256"},
    {"Cy-uz-UZ", "Uzbek (Cyrillic) (Uzbekistan)", 2115, "Windows-1251", "windows-1251"},
    {"Lt-uz-UZ", "Uzbek (Latin) (Uzbekistan)", 1091, "Windows-1254", "iso-8859-9"},
    {"vi-VN", "Vietnamese (Vietnam)", 1066, "Windows-1258", "windows-1258"},
}};
// clang-format on

int IndexOfExactId(quint16 langId) {
    for (size_t i = 0; i < kLanguages.size(); ++i) {
        if (kLanguages[i].LangId == langId)
            return int(i);
    }
    return -1;
}

int IndexOfExactCode(QStringView code) {
    const QStringView trimmed = code.trimmed();
    for (size_t i = 0; i < kLanguages.size(); ++i) {
        if (trimmed.compare(QLatin1StringView(kLanguages[i].Code), Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

} // namespace

std::span<const TISOLanguage> TISOLanguages::Rows() {
    return kLanguages;
}

int TISOLanguages::IndexOfCode(QStringView code) {
    const int index = IndexOfExactCode(code);
    return index >= 0 ? index : IndexOfExactId(kEnglishUnitedStates);
}

int TISOLanguages::IndexOfLangId(quint16 langId) {
    const int index = IndexOfExactId(langId);
    return index >= 0 ? index : IndexOfExactId(kEnglishUnitedStates);
}

int TISOLanguages::DefaultLanguage() {
    return IndexOfLangId(UserDefaultLangId());
}

quint16 TISOLanguages::UserDefaultLangId() {
    // The locale does not change while the program runs.
    static const quint16 langId = [] {
        const QString name = QLocale::system().name().replace(u'_', u'-');
        const int index = IndexOfExactCode(name);
        return index >= 0 ? kLanguages[size_t(index)].LangId : kEnglishUnitedStates;
    }();
    return langId;
}
