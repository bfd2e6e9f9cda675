// TRegedit against the real registry: HKEY_LOCAL_MACHINE\SOFTWARE\Tarnwellbury.
#include "Regedit.h"
#include "TestSupport.h"
#include <memory>

using namespace uninstall_test;

class TRegeditInspector
{
public:
    static TRegistry* Registry(const TRegedit& Regedit) { return Regedit.FRegistry; }
    static String KeyPath(const TRegedit& Regedit) { return Regedit.FKeyPath; }
};

namespace
{
    const wchar_t TestKey[] = L"SOFTWARE\\Tarnwellbury\\RegeditTest";

    class RegeditTest : public TUninstallTest
    {
    protected:
        std::unique_ptr<TRegedit> Regedit{new TRegedit(TestKey, HKEY_LOCAL_MACHINE)};
        TRegistry* Registry() const { return TRegeditInspector::Registry(*Regedit); }

        // Between two operations: no key open, and the mask a new TRegistry has
        // unless a read ended in an exception.
        void ExpectIdle(REGSAM Access = KEY_ALL_ACCESS) const
        {
            EXPECT_EQ(nullptr, static_cast<HKEY>(Registry()->CurrentKey));
            EXPECT_EQ(Access, static_cast<REGSAM>(Registry()->Access));
            EXPECT_EQ(HKEY_LOCAL_MACHINE, static_cast<HKEY>(Registry()->RootKey));
        }
    };

    std::vector<String> Contents(TStrings* List)
    {
        std::vector<String> Result;
        for (int i = 0; i < List->Count; ++i)
            Result.push_back(List->Strings[i]);
        return Result;
    }

    TEST_F(RegeditTest, ConstructionTouchesNothing)
    {
        EXPECT_FALSE(KeyExists(TestKey));
        EXPECT_EQ(String(TestKey), TRegeditInspector::KeyPath(*Regedit));
        ExpectIdle();
    }

    TEST_F(RegeditTest, EitherOperationCreatesAMissingKey)
    {
        const struct
        {
            const char* Operation;
            std::function<void(TRegedit&)> Run;
        } Cases[] = {
            {"ReadStringDefault",
             [](TRegedit& R) { EXPECT_EQ(String(L"fallback"), R.ReadStringDefault(L"Anything", L"fallback")); }},
            {"ReadValueNames",
             [](TRegedit& R) {
                 TStringList List;
                 List.Add(L"stale");
                 R.ReadValueNames(&List);
                 EXPECT_EQ(0, int(List.Count));
             }},
        };
        for (const auto& Case : Cases)
        {
            SCOPED_TRACE(Case.Operation);
            DeleteKeyTree(TestKey);
            TRegedit Fresh(TestKey, HKEY_LOCAL_MACHINE);
            Case.Run(Fresh);
            EXPECT_TRUE(KeyExists(TestKey));
            EXPECT_EQ(nullptr, static_cast<HKEY>(TRegeditInspector::Registry(Fresh)->CurrentKey));
        }
    }

    TEST_F(RegeditTest, ReadsStringDataAsStoredOrTheDefault)
    {
        const struct
        {
            const char* Situation;
            const wchar_t* StoredName; // null: no value
            DWORD Type;
            std::wstring Data; // stored without a terminator; the terminator is added when Terminated
            bool Terminated;
            const wchar_t* ReadName;
            const wchar_t* Expected;
        } Cases[] = {
            {"plain string", L"App", REG_SZ, L"\"C:\\Apps\\un.exe\" /x", true, L"App", L"\"C:\\Apps\\un.exe\" /x"},
            {"expandable string stays unexpanded", L"App", REG_EXPAND_SZ, L"%ProgramFiles%\\un.exe", true, L"App",
             L"%ProgramFiles%\\un.exe"},
            {"empty string is not the default", L"App", REG_SZ, L"", true, L"App", L""},
            {"value with no data at all", L"App", REG_SZ, L"", false, L"App", L""},
            {"data without a terminator", L"App", REG_SZ, L"abc", false, L"App", L"abc"},
            {"data ends at its first NUL", L"App", REG_SZ, std::wstring(L"abc\0def", 7), true, L"App", L"abc"},
            {"missing value gives the default", nullptr, REG_SZ, L"", true, L"App", L"default"},
            {"name matched without regard to case", L"common", REG_SZ, L"c.exe", true, L"Common", L"c.exe"},
        };
        for (const auto& Case : Cases)
        {
            SCOPED_TRACE(Case.Situation);
            DeleteKeyTree(TestKey);
            if (Case.StoredName)
                SetValue(TestKey, Case.StoredName, Case.Type, Case.Data.c_str(),
                         static_cast<DWORD>((Case.Data.size() + (Case.Terminated ? 1 : 0)) * sizeof(wchar_t)));
            EXPECT_EQ(String(Case.Expected), Regedit->ReadStringDefault(Case.ReadName, L"default"));
            ExpectIdle();
        }
    }

    TEST_F(RegeditTest, NonStringValueRaisesAndLeavesTheMaskAtKeyRead)
    {
        const DWORD Number = 42;
        const wchar_t Multi[] = L"a\0b\0";
        const struct
        {
            const char* Type;
            DWORD Kind;
            const void* Data;
            DWORD Size;
        } Cases[] = {
            {"REG_DWORD", REG_DWORD, &Number, sizeof(Number)},
            {"REG_BINARY", REG_BINARY, "\x01\x02", 2},
            {"REG_MULTI_SZ", REG_MULTI_SZ, Multi, sizeof(Multi)},
        };
        for (const auto& Case : Cases)
        {
            SCOPED_TRACE(Case.Type);
            DeleteKeyTree(TestKey);
            SetString(TestKey, L"First", L"one");
            SetValue(TestKey, L"Size", Case.Kind, Case.Data, Case.Size);
            TRegedit Reader(TestKey, HKEY_LOCAL_MACHINE);
            try
            {
                Reader.ReadStringDefault(L"Size", L"default");
                ADD_FAILURE() << "no exception";
            }
            catch (const ERegistryException& E)
            {
                EXPECT_EQ(String(L"Invalid data type for 'Size'"), E.Message);
            }
            TRegistry* Registry = TRegeditInspector::Registry(Reader);
            EXPECT_EQ(nullptr, static_cast<HKEY>(Registry->CurrentKey));
            EXPECT_EQ(REGSAM(KEY_READ), static_cast<REGSAM>(Registry->Access));

            // A later listing opens the key with KEY_READ and still works.
            TStringList Names;
            Reader.ReadValueNames(&Names);
            EXPECT_EQ((std::vector<String>{L"First", L"Size"}), Contents(&Names));
            EXPECT_EQ(nullptr, static_cast<HKEY>(Registry->CurrentKey));
            EXPECT_EQ(REGSAM(KEY_READ), static_cast<REGSAM>(Registry->Access));
        }
    }

    TEST_F(RegeditTest, ListsValueNamesInRegistryOrderReplacingTheListContent)
    {
        for (const wchar_t* Name : {L"Zeta", L"Alpha", L"Common", L"Mid"})
            SetString(TestKey, Name, L"x");
        std::vector<String> RegistryOrder;
        {
            wil::unique_hkey Key;
            ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, TestKey, 0, KEY_READ, Key.put()));
            wchar_t Name[64];
            for (DWORD i = 0, Length = 64; RegEnumValueW(Key.get(), i, Name, &Length, nullptr, nullptr, nullptr,
                                                         nullptr) == ERROR_SUCCESS;
                 ++i, Length = 64)
                RegistryOrder.push_back(Name);
        }
        ASSERT_EQ(4u, RegistryOrder.size());

        TStringList Names;
        Names.Add(L"stale");
        Names.Add(L"Zeta");
        Regedit->ReadValueNames(&Names);
        EXPECT_EQ(RegistryOrder, Contents(&Names));
        ExpectIdle();
    }

    TEST_F(RegeditTest, KeyThatCannotBeOpenedGivesTheDefaultAndNoNames)
    {
        CreateUnreachableKey(TestKey);
        EXPECT_EQ(String(L"default"), Regedit->ReadStringDefault(L"App", L"default"));
        TStringList Names;
        Names.Add(L"stale");
        Regedit->ReadValueNames(&Names);
        EXPECT_EQ(0, int(Names.Count));
        ExpectIdle();
        EXPECT_FALSE(KeyExists(TestKey));
    }
}
