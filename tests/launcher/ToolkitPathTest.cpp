#include "launcher/ToolkitPath.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace {

struct Row {
    const wchar_t* native;
    const wchar_t* toolkit;
};

void expectRows(std::wstring (*convert)(std::wstring_view), std::initializer_list<Row> rows)
{
    for (const Row& row : rows)
        EXPECT_EQ(convert(row.native), row.toolkit) << "from " << testing::PrintToString(row.native);
}

TEST(ToolkitPath, WindowsPathsTakeTheToolkitsForm)
{
    expectRows(launcher::toolkitPath, {
                                          {L"C:\\Apps\\Tool", L"C:/Apps/Tool"},
                                          {L"C:\\Apps\\Tool\\", L"C:/Apps/Tool"},
                                          {L"C:\\Apps\\Tool\\\\", L"C:/Apps/Tool"},
                                          {L"C:/Apps/Tool", L"C:/Apps/Tool"},
                                          {L"C:\\", L"C:/"},
                                          {L"E:", L"E:"},
                                          {L"\\\\server\\share\\maps\\", L"//server/share/maps"},
                                          {L"\\\\?\\C:\\Apps\\Tool", L"C:/Apps/Tool"},
                                          {L"\\\\?\\C:\\", L"C:/"},
                                          {L"\\\\?\\UNC\\server\\share\\maps", L"//server/share/maps"},
                                          {L"Z:\\tmp\\chosen dir", L"Z:/tmp/chosen dir"},
                                          {L"/", L"/"},
                                          {L"", L""},
                                      });
}

TEST(ToolkitPath, TheDirectoryOfAFileKeepsARootWhole)
{
    expectRows(launcher::toolkitDirectoryOf,
               {
                   {L"C:\\Apps\\Tool\\GleanerQt.exe", L"C:/Apps/Tool"},
                   {L"C:\\GleanerQt.exe", L"C:/"},
                   {L"\\\\?\\C:\\GleanerQt.exe", L"C:/"},
                   {L"\\\\server\\share\\GleanerQt.exe", L"//server/share"},
                   {L"\\\\?\\UNC\\server\\share\\Tool\\GleanerQt.exe", L"//server/share/Tool"},
                   {L"C:\\Stra\u00DFe \u65E5\u672C\\GleanerQt.exe", L"C:/Stra\u00DFe \u65E5\u672C"},
                   {L"GleanerQt.exe", L""},
               });
}

} // namespace
