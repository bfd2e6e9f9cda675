// A call from another apartment: the object lives in this thread's STA, a
// worker in the MTA reaches it through the merged proxy/stub.
#include "ServerDll.h"

#include "Fixtures.h"

#include <cstring>
#include <functional>

using namespace comtest;

namespace
{
    struct RecordCopy
    {
        std::wstring texts[7];
        LONG numbers[3] = {};

        explicit RecordCopy(const TSimpleMediaTag& tag)
            : texts{ToWString(tag.strTitle),   ToWString(tag.strArtist), ToWString(tag.strAlbum),
                    ToWString(tag.strComment), ToWString(tag.strGenre),  ToWString(tag.strRating),
                    ToWString(tag.strCopyright)},
              numbers{tag.nYear, tag.nTrack, tag.nTag}
        {
        }
        RecordCopy() = default;
        bool operator==(const RecordCopy& other) const
        {
            return std::equal(std::begin(texts), std::end(texts), std::begin(other.texts)) &&
                   std::equal(std::begin(numbers), std::end(numbers), std::begin(other.numbers));
        }
    };

    void FreeRecord(TSimpleMediaTag& tag)
    {
        for (BSTR* field : {&tag.strTitle, &tag.strArtist, &tag.strAlbum, &tag.strComment, &tag.strGenre,
                            &tag.strRating, &tag.strCopyright})
            ::SysFreeString(*field);
        tag = TSimpleMediaTag{};
    }

    HRESULT ReadRecord(ITagsEditor* editor, RecordCopy& copy)
    {
        TSimpleMediaTag tag{};
        const HRESULT hr = editor->GetSimpleMediaTags(&tag);
        if (SUCCEEDED(hr))
            copy = RecordCopy(tag);
        FreeRecord(tag);
        return hr;
    }

    DWORD WINAPI MtaThread(void* work)
    {
        Apartment mta(COINIT_MULTITHREADED);
        (*static_cast<const std::function<void()>*>(work))();
        return 0;
    }

    // Runs `work` on a new MTA thread while this STA thread pumps the
    // messages that carry the calls back to the object.
    void RunInOtherApartment(const std::function<void()>& work)
    {
        wil::unique_handle handle(
            ::CreateThread(nullptr, 0, MtaThread, const_cast<std::function<void()>*>(&work), 0, nullptr));
        ASSERT_TRUE(handle);
        HANDLE handles[] = {handle.get()};
        DWORD index = 0;
        ASSERT_EQ(S_OK, ::CoWaitForMultipleHandles(0, INFINITE, 1, handles, &index));
    }
}

TEST(Marshalling, InterfacesAreRegisteredWithTheMergedProxyStub)
{
    for (const IID* iid : {&IID_IInformation, &IID_ITagsEditor})
    {
        CLSID proxy{};
        ASSERT_EQ(S_OK, ::CoGetPSClsid(*iid, &proxy));
        EXPECT_TRUE(::IsEqualCLSID(IID_IInformation, proxy));
    }
}

TEST(Marshalling, AnotherApartmentReadsAndWritesThroughTheProxy)
{
    auto editor = CreateQuillorn<ITagsEditor>(IID_ITagsEditor);
    ASSERT_TRUE(editor);
    const std::wstring path = ScratchCopy(L"id3v2.mp3");
    wil::com_ptr<IStream> stream;
    ASSERT_EQ(S_OK, ::CoMarshalInterThreadInterfaceInStream(IID_ITagsEditor, editor.get(), stream.put()));

    // What the worker saw, checked here.
    HRESULT unmarshal = E_FAIL, open = E_FAIL, read = E_FAIL, write = E_FAIL, reread = E_FAIL;
    HRESULT describe = E_FAIL, closedRead = E_FAIL;
    ITagsEditor* proxyAddress = nullptr;
    std::wstring description;
    RecordCopy before, after;
    TAudioOptions options{};
    HRESULT optionsHr = E_FAIL;

    RunInOtherApartment([&] {
        wil::com_ptr<ITagsEditor> proxy;
        unmarshal = ::CoGetInterfaceAndReleaseStream(stream.detach(), IID_ITagsEditor, proxy.put_void());
        if (FAILED(unmarshal))
            return;
        proxyAddress = proxy.get();

        wil::com_ptr<IInformation> information;
        describe = proxy->QueryInterface(IID_IInformation, information.put_void());
        if (SUCCEEDED(describe))
        {
            wil::unique_bstr text;
            describe = information->GetDescription(text.put());
            description = ToWString(text.get());
        }

        wil::unique_bstr name(::SysAllocString(path.c_str()));
        open = proxy->OpenFile(name.get());
        read = ReadRecord(proxy.get(), before);
        optionsHr = proxy->GetAudioOptions(&options);
        wil::unique_bstr title(::SysAllocString(L"Title from another apartment"));
        write = proxy->WriteTitleTag(title.get());
        reread = ReadRecord(proxy.get(), after);
        proxy->CloseFile();
        RecordCopy ignored;
        closedRead = ReadRecord(proxy.get(), ignored);
    });

    ASSERT_EQ(S_OK, unmarshal);
    EXPECT_NE(editor.get(), proxyAddress) << "the worker holds a proxy, not the object";
    EXPECT_EQ(S_OK, describe);
    EXPECT_EQ(L"Version: 123. COM object to edit media tags in audio files", description);
    EXPECT_EQ(S_OK, open);
    EXPECT_EQ(S_OK, read);
    EXPECT_EQ(S_OK, optionsHr);
    EXPECT_EQ(S_OK, write);
    EXPECT_EQ(S_OK, reread);
    EXPECT_EQ(static_cast<HRESULT>(0x8007000AL), closedRead) << "failures travel back as they are";

    // The record that crossed matches what the object gives in its own apartment.
    ASSERT_EQ(S_OK, editor->OpenFile(wil::unique_bstr(::SysAllocString(path.c_str())).get()));
    RecordCopy direct;
    ASSERT_EQ(S_OK, ReadRecord(editor.get(), direct));
    EXPECT_EQ(L"Title from another apartment", after.texts[0]);
    EXPECT_EQ(L"Title from another apartment", direct.texts[0]) << "the write reached the file";
    RecordCopy expectedAfter = before;
    expectedAfter.texts[0] = L"Title from another apartment";
    EXPECT_TRUE(expectedAfter == after) << "only the title changed";
    EXPECT_FALSE(before.texts[1].empty()) << "the fixture has an artist to carry";

    TAudioOptions directOptions{};
    ASSERT_EQ(S_OK, editor->GetAudioOptions(&directOptions));
    EXPECT_EQ(0, std::memcmp(&directOptions, &options, sizeof options));
    EXPECT_EQ(S_OK, editor->CloseFile());
}
