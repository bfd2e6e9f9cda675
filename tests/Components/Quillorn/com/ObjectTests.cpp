// CQuillorn as a COM object: activation, the interface table and identity,
// aggregation, the class object and the DLL's lock count.
#include "ServerDll.h"

using namespace comtest;

namespace
{
    struct NamedIid
    {
        const char* name;
        const IID* iid;
    };

    // The interface table, in its order.
    const NamedIid kTable[] = {
        {"IInformation", &IID_IInformation},
        {"ITagsEditor", &IID_ITagsEditor},
        {"IDispatch", &IID_IDispatch},
        {"ISupportErrorInfo", &IID_ISupportErrorInfo},
        {"IConnectionPointContainer", &IID_IConnectionPointContainer},
    };

    const NamedIid kNotInTable[] = {
        {"IProvideClassInfo", &IID_IProvideClassInfo},
        {"IProvideClassInfo2", &IID_IProvideClassInfo2},
        {"IConnectionPoint", &IID_IConnectionPoint},
        {"IPersist", &IID_IPersist},
        {"IClassFactory", &IID_IClassFactory},
        {"_IQuillornEvents", &DIID__IQuillornEvents},
    };

    void* const kGarbage = reinterpret_cast<void*>(0x1234);

    // {B0C7A1F5-5E3D-4F0C-9A61-3D1F0E2A7C11}: served by nobody.
    const CLSID kUnknownClsid = {0xb0c7a1f5, 0x5e3d, 0x4f0c, {0x9a, 0x61, 0x3d, 0x1f, 0x0e, 0x2a, 0x7c, 0x11}};
}

// ---------------------------------------------------------------------------
// Activation and the interface table

TEST(Activation, CoCreateInstanceAnswersEveryInterfaceOfTheTable)
{
    for (const NamedIid& entry : kTable)
    {
        wil::com_ptr<IUnknown> object;
        EXPECT_EQ(S_OK, ::CoCreateInstance(CLSID_CQuillorn, nullptr, CLSCTX_INPROC_SERVER, *entry.iid,
                                           object.put_void()))
            << entry.name;
        EXPECT_TRUE(object) << entry.name;
    }
}

TEST(InterfaceTable, EveryInterfaceLeadsBackToOneIdentityTheFirstEntry)
{
    auto object = CreateQuillorn();
    ASSERT_TRUE(object);
    auto information = Query<IInformation>(object.get(), IID_IInformation);
    EXPECT_EQ(static_cast<IUnknown*>(information.get()), object.get()) << "IUnknown is the IInformation pointer";

    for (const NamedIid& from : kTable)
    {
        wil::com_ptr<IUnknown> p;
        ASSERT_EQ(S_OK, object->QueryInterface(*from.iid, p.put_void())) << from.name;
        EXPECT_EQ(object.get(), Identity(p.get())) << from.name;
        for (const NamedIid& to : kTable)
        {
            wil::com_ptr<IUnknown> q;
            EXPECT_EQ(S_OK, p->QueryInterface(*to.iid, q.put_void())) << from.name << " -> " << to.name;
        }
    }

    auto dispatch = Query<IDispatch>(object.get(), IID_IDispatch);
    EXPECT_EQ(static_cast<IDispatch*>(information.get()), dispatch.get()) << "IDispatch is IInformation's";
    auto editor = Query<ITagsEditor>(object.get(), IID_ITagsEditor);
    EXPECT_NE(static_cast<IDispatch*>(editor.get()), dispatch.get());
}

TEST(InterfaceTable, RefusesEverythingElse)
{
    auto object = CreateQuillorn();
    ASSERT_TRUE(object);
    for (const NamedIid& entry : kNotInTable)
    {
        void* p = kGarbage;
        EXPECT_EQ(E_NOINTERFACE, object->QueryInterface(*entry.iid, &p)) << entry.name;
        EXPECT_EQ(nullptr, p) << entry.name;
    }
    EXPECT_EQ(E_POINTER, object->QueryInterface(IID_ITagsEditor, nullptr));
}

TEST(InterfaceTable, ErrorInformationIsSupportedForIInformationOnly)
{
    auto info = CreateQuillorn<ISupportErrorInfo>(IID_ISupportErrorInfo);
    ASSERT_TRUE(info);
    EXPECT_EQ(S_OK, info->InterfaceSupportsErrorInfo(IID_IInformation));
    for (const IID* iid : {&IID_ITagsEditor, &IID_IDispatch, &IID_IUnknown, &IID_IConnectionPointContainer})
        EXPECT_EQ(S_FALSE, info->InterfaceSupportsErrorInfo(*iid));
}

TEST(InterfaceTable, ReferenceCountIsTheObjectsOwn)
{
    auto object = CreateQuillorn();
    ASSERT_TRUE(object);
    EXPECT_EQ(2u, object->AddRef());
    auto editor = Query<ITagsEditor>(object.get(), IID_ITagsEditor);
    EXPECT_EQ(4u, editor->AddRef()) << "one count for every interface";
    EXPECT_EQ(3u, editor->Release());
    EXPECT_EQ(2u, object->Release());
}

// ---------------------------------------------------------------------------
// Aggregation

TEST(Aggregation, AnOuterObjectMayAskForIUnknownOnly)
{
    wil::com_ptr<IClassFactory> factory;
    ASSERT_EQ(S_OK, ServerDll::GetClassObject(CLSID_CQuillorn, IID_IClassFactory, factory.put_void()));
    for (const NamedIid& entry : kTable)
    {
        Outer outer;
        void* p = kGarbage;
        EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, *entry.iid, &p)) << entry.name;
        EXPECT_EQ(nullptr, p) << entry.name;
        p = kGarbage;
        EXPECT_EQ(CLASS_E_NOAGGREGATION,
                  ::CoCreateInstance(CLSID_CQuillorn, &outer, CLSCTX_INPROC_SERVER, *entry.iid, &p))
            << entry.name;
        EXPECT_EQ(1, outer.Refs()) << entry.name;
    }
}

TEST(Aggregation, InnerUnknownCountsForItselfAndTheTableDelegatesToTheOuterObject)
{
    Outer outer;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_CQuillorn, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                       outer.inner.put_void()));
    IUnknown* inner = outer.inner.get();
    EXPECT_EQ(1, outer.Refs()) << "creating the aggregate holds no reference on the outer object";

    // The inner unknown: its own count, itself for IUnknown.
    EXPECT_EQ(2u, inner->AddRef());
    EXPECT_EQ(1u, inner->Release());
    wil::com_ptr<IUnknown> self;
    ASSERT_EQ(S_OK, inner->QueryInterface(IID_IUnknown, self.put_void()));
    EXPECT_EQ(inner, self.get());
    self.reset();

    for (const NamedIid& entry : kTable)
    {
        wil::com_ptr<IUnknown> p;
        ASSERT_EQ(S_OK, inner->QueryInterface(*entry.iid, p.put_void())) << entry.name;
        EXPECT_EQ(2, outer.Refs()) << entry.name << ": the reference is the outer object's";
        EXPECT_EQ(1u, RefCount(inner)) << entry.name;

        const int queries = outer.Queries();
        wil::com_ptr<IUnknown> identity;
        ASSERT_EQ(S_OK, p->QueryInterface(IID_IUnknown, identity.put_void())) << entry.name;
        EXPECT_EQ(static_cast<IUnknown*>(&outer), identity.get()) << entry.name;
        EXPECT_EQ(queries + 1, outer.Queries()) << entry.name;
        identity.reset();
        p.reset();
        EXPECT_EQ(1, outer.Refs()) << entry.name;
    }

    // Through the outer object, the aggregate answers the table.
    auto editor = Query<ITagsEditor>(&outer, IID_ITagsEditor);
    EXPECT_TRUE(editor);
    editor.reset();

    // The connection point also counts on the outer object.
    auto container = Query<IConnectionPointContainer>(inner, IID_IConnectionPointContainer);
    wil::com_ptr<IConnectionPoint> point;
    ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID__IQuillornEvents, point.put()));
    EXPECT_EQ(3, outer.Refs());
    point.reset();
    container.reset();

    EXPECT_EQ(S_FALSE, ServerDll::CanUnloadNow());
    outer.inner.reset();
    EXPECT_EQ(1, outer.Refs());
    EXPECT_EQ(S_OK, ServerDll::CanUnloadNow()) << "the aggregate is gone";
}

// ---------------------------------------------------------------------------
// The class object

TEST(ClassObject, IsServedForTheClassAndTheProxyStubOnly)
{
    const struct
    {
        const char* what;
        const CLSID* clsid;
        const IID* iid;
        HRESULT expected;
    } cases[] = {
        {"class factory", &CLSID_CQuillorn, &IID_IClassFactory, S_OK},
        {"class object's IUnknown", &CLSID_CQuillorn, &IID_IUnknown, S_OK},
        {"class object's missing interface", &CLSID_CQuillorn, &IID_IDispatch, E_NOINTERFACE},
        {"proxy/stub factory", &IID_IInformation, &IID_IPSFactoryBuffer, S_OK},
        {"ITagsEditor is no class", &IID_ITagsEditor, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
        {"the type library is no class", &LIBID_QuillornLib, &IID_IUnknown, CLASS_E_CLASSNOTAVAILABLE},
        {"unknown class", &kUnknownClsid, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
    };
    for (const auto& c : cases)
    {
        void* p = kGarbage;
        EXPECT_EQ(c.expected, ServerDll::GetClassObject(*c.clsid, *c.iid, &p)) << c.what;
        if (SUCCEEDED(c.expected))
        {
            ASSERT_NE(nullptr, p) << c.what;
            static_cast<IUnknown*>(p)->Release();
        }
        else
            EXPECT_EQ(nullptr, p) << c.what;
    }
    EXPECT_EQ(E_POINTER, ServerDll::GetClassObject(CLSID_CQuillorn, IID_IClassFactory, nullptr));
    EXPECT_EQ(E_POINTER, ServerDll::GetClassObject(IID_IInformation, IID_IPSFactoryBuffer, nullptr));
}

TEST(ClassObject, ProxyClassIdGivesTheMarshallingFactoryNotAClassFactory)
{
    wil::com_ptr<IUnknown> factory;
    ASSERT_EQ(S_OK, ServerDll::GetClassObject(IID_IInformation, IID_IUnknown, factory.put_void()));
    wil::com_ptr<IPSFactoryBuffer> buffer;
    EXPECT_EQ(S_OK, factory->QueryInterface(IID_IPSFactoryBuffer, buffer.put_void()));
    wil::com_ptr<IClassFactory> classFactory;
    EXPECT_EQ(E_NOINTERFACE, factory->QueryInterface(IID_IClassFactory, classFactory.put_void()));
}

TEST(ClassObject, IsCachedAndEveryReferenceBeyondTheCacheLocksTheDll)
{
    ASSERT_EQ(S_OK, ServerDll::CanUnloadNow());
    wil::com_ptr<IClassFactory> first, second;
    ASSERT_EQ(S_OK, ServerDll::GetClassObject(CLSID_CQuillorn, IID_IClassFactory, first.put_void()));
    ASSERT_EQ(S_OK, ServerDll::GetClassObject(CLSID_CQuillorn, IID_IClassFactory, second.put_void()));
    EXPECT_EQ(first.get(), second.get());
    EXPECT_EQ(S_FALSE, ServerDll::CanUnloadNow());
    first.reset();
    EXPECT_EQ(S_FALSE, ServerDll::CanUnloadNow());
    second.reset();
    EXPECT_EQ(S_OK, ServerDll::CanUnloadNow()) << "the cache's own reference does not lock";
}

TEST(ClassObject, CreateInstanceChecksItsArgumentsAndDropsAnObjectWithoutTheInterface)
{
    wil::com_ptr<IClassFactory> factory;
    ASSERT_EQ(S_OK, ServerDll::GetClassObject(CLSID_CQuillorn, IID_IClassFactory, factory.put_void()));
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_ITagsEditor, nullptr));

    void* p = kGarbage;
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IProvideClassInfo, &p));
    EXPECT_EQ(nullptr, p);

    wil::com_ptr<ITagsEditor> editor;
    EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, IID_ITagsEditor, editor.put_void()));
    EXPECT_TRUE(editor);
    editor.reset();
    factory.reset();
    EXPECT_EQ(S_OK, ServerDll::CanUnloadNow()) << "the refused object was destroyed";
}

// ---------------------------------------------------------------------------
// DllCanUnloadNow: objects, enumerators and LockServer hold the DLL.

TEST(DllLifetime, ObjectsHoldTheDllUntilTheirLastRelease)
{
    ASSERT_EQ(S_OK, ServerDll::CanUnloadNow());
    auto first = CreateQuillorn();
    auto second = CreateQuillorn();
    EXPECT_EQ(S_FALSE, ServerDll::CanUnloadNow());
    first.reset();
    EXPECT_EQ(S_FALSE, ServerDll::CanUnloadNow());
    second.reset();
    EXPECT_EQ(S_OK, ServerDll::CanUnloadNow());
}

TEST(DllLifetime, LockServerHoldsTheDll)
{
    wil::com_ptr<IClassFactory> factory;
    ASSERT_EQ(S_OK, ServerDll::GetClassObject(CLSID_CQuillorn, IID_IClassFactory, factory.put_void()));
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    factory.reset();
    EXPECT_EQ(S_FALSE, ServerDll::CanUnloadNow());
    ASSERT_EQ(S_OK, ServerDll::GetClassObject(CLSID_CQuillorn, IID_IClassFactory, factory.put_void()));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    factory.reset();
    EXPECT_EQ(S_OK, ServerDll::CanUnloadNow());
}

TEST(DllLifetime, EnumeratorsHoldTheDllAndKeepTheObjectAlive)
{
    // Each kind of enumerator outlives the host's reference to the object.
    const struct
    {
        const char* what;
        HRESULT (*make)(IConnectionPointContainer*, IUnknown**);
    } kinds[] = {
        {"IEnumConnectionPoints",
         [](IConnectionPointContainer* c, IUnknown** e) {
             return c->EnumConnectionPoints(reinterpret_cast<IEnumConnectionPoints**>(e));
         }},
        {"IEnumConnections",
         [](IConnectionPointContainer* c, IUnknown** e) {
             wil::com_ptr<IConnectionPoint> point;
             RETURN_IF_FAILED(c->FindConnectionPoint(DIID__IQuillornEvents, point.put()));
             return point->EnumConnections(reinterpret_cast<IEnumConnections**>(e));
         }},
    };
    for (const auto& kind : kinds)
    {
        ASSERT_EQ(S_OK, ServerDll::CanUnloadNow()) << kind.what;
        TestUnknown sink({DIID__IQuillornEvents});
        auto container = CreateQuillorn<IConnectionPointContainer>(IID_IConnectionPointContainer);
        ASSERT_TRUE(container);
        {
            wil::com_ptr<IConnectionPoint> point;
            ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID__IQuillornEvents, point.put()));
            DWORD cookie = 0;
            ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
        }
        wil::com_ptr<IUnknown> enumerator;
        ASSERT_EQ(S_OK, kind.make(container.get(), enumerator.put())) << kind.what;
        const LONG held = sink.Refs();
        container.reset();

        EXPECT_EQ(S_FALSE, ServerDll::CanUnloadNow()) << kind.what;
        EXPECT_EQ(held, sink.Refs()) << kind.what << ": the object still holds its sink";
        enumerator.reset();
        EXPECT_EQ(1, sink.Refs()) << kind.what << ": the object went with the enumerator";
        EXPECT_EQ(S_OK, ServerDll::CanUnloadNow()) << kind.what;
    }
}
