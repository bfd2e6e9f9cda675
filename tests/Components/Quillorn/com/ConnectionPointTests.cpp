// The event source: the connection-point container, its one point for
// _IQuillornEvents, the sinks it keeps and both enumerators.
#include "ServerDll.h"

#include <set>

using namespace comtest;

namespace
{
    class ConnectionPoint : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            m_container = CreateQuillorn<IConnectionPointContainer>(IID_IConnectionPointContainer);
            ASSERT_TRUE(m_container);
            ASSERT_EQ(S_OK, m_container->FindConnectionPoint(DIID__IQuillornEvents, m_point.put()));
            ASSERT_TRUE(m_point);
        }

        std::vector<CONNECTDATA> Connections()
        {
            std::vector<CONNECTDATA> connections;
            wil::com_ptr<IEnumConnections> enumerator;
            EXPECT_EQ(S_OK, m_point->EnumConnections(enumerator.put()));
            if (!enumerator)
                return connections;
            CONNECTDATA data{};
            while (enumerator->Next(1, &data, nullptr) == S_OK)
            {
                connections.push_back(data);
                data.pUnk->Release(); // the sinks outlive the list
            }
            return connections;
        }

        wil::com_ptr<IConnectionPointContainer> m_container;
        wil::com_ptr<IConnectionPoint> m_point;
    };
}

TEST_F(ConnectionPoint, ContainerFindsThePointForTheEventInterfaceOnly)
{
    wil::com_ptr<IConnectionPoint> again;
    ASSERT_EQ(S_OK, m_container->FindConnectionPoint(DIID__IQuillornEvents, again.put()));
    EXPECT_EQ(m_point.get(), again.get());

    for (const IID* iid : {&IID_IDispatch, &IID_ITagsEditor, &IID_IInformation, &IID_IUnknown})
    {
        IConnectionPoint* p = reinterpret_cast<IConnectionPoint*>(0x1234);
        EXPECT_EQ(CONNECT_E_NOCONNECTION, m_container->FindConnectionPoint(*iid, &p));
        EXPECT_EQ(nullptr, p);
    }
    EXPECT_EQ(E_POINTER, m_container->FindConnectionPoint(DIID__IQuillornEvents, nullptr));
}

TEST_F(ConnectionPoint, PointAnswersForItselfAndCountsOnTheObject)
{
    for (const IID* iid : {&IID_IConnectionPoint, &IID_IUnknown})
    {
        wil::com_ptr<IUnknown> p;
        ASSERT_EQ(S_OK, m_point->QueryInterface(*iid, p.put_void()));
        EXPECT_EQ(static_cast<IUnknown*>(m_point.get()), p.get());
    }
    for (const IID* iid : {&IID_IConnectionPointContainer, &IID_ITagsEditor, &IID_IDispatch})
    {
        void* p = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(E_NOINTERFACE, m_point->QueryInterface(*iid, &p));
        EXPECT_EQ(nullptr, p);
    }

    const ULONG objectCount = RefCount(m_container.get());
    EXPECT_EQ(objectCount + 1, m_point->AddRef());
    EXPECT_EQ(objectCount + 1, RefCount(m_container.get()));
    EXPECT_EQ(objectCount, m_point->Release());

    IID iid{};
    EXPECT_EQ(S_OK, m_point->GetConnectionInterface(&iid));
    EXPECT_TRUE(::IsEqualIID(DIID__IQuillornEvents, iid));
    EXPECT_EQ(E_POINTER, m_point->GetConnectionInterface(nullptr));

    wil::com_ptr<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, m_point->GetConnectionPointContainer(container.put()));
    EXPECT_EQ(Identity(m_container.get()), Identity(container.get()));
}

TEST_F(ConnectionPoint, SeveralSinksConnectWithTheirOwnCookies)
{
    TestUnknown sinks[3] = {TestUnknown({DIID__IQuillornEvents}), TestUnknown({DIID__IQuillornEvents}),
                            TestUnknown({DIID__IQuillornEvents})};
    DWORD cookies[3] = {};
    for (int i = 0; i < 3; ++i)
    {
        ASSERT_EQ(S_OK, m_point->Advise(&sinks[i], &cookies[i]));
        EXPECT_NE(0u, cookies[i]);
        EXPECT_EQ(2, sinks[i].Refs()) << "the point holds each sink";
    }
    EXPECT_EQ(3u, std::set<DWORD>(std::begin(cookies), std::end(cookies)).size());

    auto connections = Connections();
    ASSERT_EQ(3u, connections.size());
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_EQ(cookies[i], connections[i].dwCookie);
        EXPECT_EQ(static_cast<IUnknown*>(&sinks[i]), connections[i].pUnk);
    }

    // Unadvise forgets one sink and releases it; the others stay connected.
    ASSERT_EQ(S_OK, m_point->Unadvise(cookies[1]));
    EXPECT_EQ(1, sinks[1].Refs());
    connections = Connections();
    ASSERT_EQ(2u, connections.size());
    EXPECT_EQ(cookies[0], connections[0].dwCookie);
    EXPECT_EQ(cookies[2], connections[1].dwCookie);

    EXPECT_EQ(CONNECT_E_NOCONNECTION, m_point->Unadvise(cookies[1])) << "a cookie is used once";
    EXPECT_EQ(CONNECT_E_NOCONNECTION, m_point->Unadvise(0));
    EXPECT_EQ(2, sinks[0].Refs());
    EXPECT_EQ(2, sinks[2].Refs());

    // The object's destruction releases the sinks still connected.
    m_point.reset();
    m_container.reset();
    EXPECT_EQ(1, sinks[0].Refs());
    EXPECT_EQ(1, sinks[2].Refs());
    EXPECT_EQ(S_OK, ServerDll::CanUnloadNow());
}

TEST_F(ConnectionPoint, AdviseRefusesSinksWithoutTheEventInterface)
{
    const struct
    {
        const char* what;
        HRESULT answer; // the sink's QueryInterface for the event interface
        HRESULT expected;
    } cases[] = {
        {"no event interface", E_NOINTERFACE, CONNECT_E_CANNOTCONNECT},
        {"other failure passed on", E_ACCESSDENIED, E_ACCESSDENIED},
    };
    for (const auto& c : cases)
    {
        TestUnknown sink({DIID__IQuillornEvents}, c.answer);
        DWORD cookie = 77;
        EXPECT_EQ(c.expected, m_point->Advise(&sink, &cookie)) << c.what;
        EXPECT_EQ(1, sink.Refs()) << c.what;
    }
    TestUnknown plain; // answers IUnknown only
    DWORD cookie = 0;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, m_point->Advise(&plain, &cookie));
    EXPECT_TRUE(Connections().empty());

    EXPECT_EQ(E_POINTER, m_point->Advise(nullptr, &cookie));
    TestUnknown sink({DIID__IQuillornEvents});
    EXPECT_EQ(E_POINTER, m_point->Advise(&sink, nullptr));
    EXPECT_EQ(1, sink.Refs());
}

TEST_F(ConnectionPoint, EnumConnectionPointsListsTheOnePoint)
{
    wil::com_ptr<IEnumConnectionPoints> enumerator;
    ASSERT_EQ(S_OK, m_container->EnumConnectionPoints(enumerator.put()));
    EXPECT_EQ(E_POINTER, m_container->EnumConnectionPoints(nullptr));

    IConnectionPoint* points[2] = {};
    ULONG fetched = 99;
    EXPECT_EQ(S_FALSE, enumerator->Next(2, points, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(m_point.get(), points[0]);
    points[0]->Release();

    EXPECT_EQ(S_FALSE, enumerator->Next(1, points, nullptr)) << "at the end";
    EXPECT_EQ(E_POINTER, enumerator->Next(2, points, nullptr)) << "more than one needs a count";
    EXPECT_EQ(S_OK, enumerator->Reset());
    EXPECT_EQ(S_OK, enumerator->Skip(1));
    EXPECT_EQ(S_FALSE, enumerator->Skip(1));

    // A clone starts where its original stands.
    EXPECT_EQ(S_OK, enumerator->Reset());
    wil::com_ptr<IEnumConnectionPoints> clone;
    ASSERT_EQ(S_OK, enumerator->Clone(clone.put()));
    ASSERT_EQ(S_OK, clone->Next(1, points, nullptr));
    EXPECT_EQ(m_point.get(), points[0]);
    points[0]->Release();
    EXPECT_EQ(S_FALSE, clone->Next(1, points, nullptr));
}

TEST_F(ConnectionPoint, EnumConnectionsIsASnapshotHoldingItsSinks)
{
    TestUnknown first({DIID__IQuillornEvents}), second({DIID__IQuillornEvents});
    DWORD cookie1 = 0, cookie2 = 0;
    ASSERT_EQ(S_OK, m_point->Advise(&first, &cookie1));
    wil::com_ptr<IEnumConnections> enumerator;
    ASSERT_EQ(S_OK, m_point->EnumConnections(enumerator.put()));
    EXPECT_EQ(E_POINTER, m_point->EnumConnections(nullptr));
    EXPECT_EQ(3, first.Refs()) << "the snapshot holds a reference";

    // Later changes do not show in the snapshot.
    ASSERT_EQ(S_OK, m_point->Advise(&second, &cookie2));
    ASSERT_EQ(S_OK, m_point->Unadvise(cookie1));
    EXPECT_EQ(2, first.Refs());

    CONNECTDATA data[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, enumerator->Next(2, data, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(cookie1, data[0].dwCookie);
    EXPECT_EQ(static_cast<IUnknown*>(&first), data[0].pUnk);
    EXPECT_EQ(3, first.Refs()) << "Next hands out a reference";
    data[0].pUnk->Release();

    enumerator.reset();
    EXPECT_EQ(1, first.Refs());
    EXPECT_EQ(S_OK, m_point->Unadvise(cookie2));
    EXPECT_EQ(1, second.Refs());
}
