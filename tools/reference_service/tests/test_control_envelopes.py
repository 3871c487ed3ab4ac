"""The four control calls answer with exact envelopes."""
import ipaddress

from support import DEMO_KEY, DEMO_NUMBER, grant, post_json


def test_resolve_returns_device_and_shared_networks(svc):
    status, envelope = post_json(svc.port, "/api/devices/resolve", {"deviceSecret": DEMO_KEY})
    assert status == 200
    assert envelope == {"success": True, "code": "OK", "message": "", "data": {
        "deviceNumber": DEMO_NUMBER, "deviceName": "演示现场",
        "sharedNetworks": ["192.168.1.0/24", "10.20.0.0/16"]}}


def test_authorization_for_all_grants_every_shared_network(svc):
    status, envelope = post_json(svc.port, "/api/connections/request", {
        "deviceNumber": DEMO_NUMBER, "deviceSecret": DEMO_KEY, "targetNetwork": "ALL",
        "engineerId": "ENG-10000001", "clientPublicKey": ""})
    assert status == 200
    assert envelope["success"] is True and envelope["code"] == "OK" and envelope["message"] == ""
    data = envelope["data"]
    assert sorted(data) == ["assignedAddress", "connectionId", "deviceNumber", "routes", "targetNetwork"]
    assert data["routes"] == ["192.168.1.0/24", "10.20.0.0/16"]
    assert data["deviceNumber"] == DEMO_NUMBER and data["targetNetwork"] == "ALL"
    assert ipaddress.IPv4Address(data["assignedAddress"]) in ipaddress.IPv4Network("100.64.0.0/16")
    assert isinstance(data["connectionId"], str) and data["connectionId"]


def test_authorization_for_a_shared_network_grants_only_that_one(svc):
    data = grant(svc.port, target="10.20.0.0/16")
    assert data["routes"] == ["10.20.0.0/16"] and data["targetNetwork"] == "10.20.0.0/16"


def test_authorization_for_an_unshared_network_grants_all(svc):
    for target in ("172.31.0.0/16", "nonsense", ""):
        data = grant(svc.port, target=target)
        assert data["routes"] == ["192.168.1.0/24", "10.20.0.0/16"] and data["targetNetwork"] == "ALL"


def test_connection_ids_and_addresses_are_unique(svc):
    grants = [grant(svc.port) for _ in range(20)]
    assert len({g["connectionId"] for g in grants}) == 20
    assert len({g["assignedAddress"] for g in grants}) == 20


def test_disconnect_succeeds_and_is_idempotent(svc):
    data = grant(svc.port, engineer="ENG-22222222")
    path = f"/api/connections/{data['connectionId']}/disconnect"
    status, envelope = post_json(svc.port, path, {"engineerId": "ENG-22222222", "reason": "本地客户端断开连接"})
    assert status == 200
    assert envelope == {"success": True, "code": "OK", "message": "", "data": {
        "connectionId": data["connectionId"], "disconnected": True, "alreadyDisconnected": False}}
    _, again = post_json(svc.port, path, {"engineerId": "ENG-22222222", "reason": "本地隧道启动失败"})
    assert again["success"] is True and again["data"]["alreadyDisconnected"] is True


def test_remote_desktop_session_comes_from_the_scenario(svc):
    status, envelope = post_json(svc.port, f"/api/devices/{DEMO_NUMBER}/remote-desktop/session", {
        "deviceNumber": DEMO_NUMBER, "deviceSecret": DEMO_KEY, "engineerId": "ENG-10000001"})
    assert status == 200 and envelope["success"] is True and envelope["code"] == "OK"
    assert envelope["data"] == {
        "rustDeskId": "318 402 775", "accessPassword": "demo-8842",
        "server": {"windowsDownloadUrl": f"{svc.url}/downloads/rustdesk.exe",
                   "rendezvousServer": "127.0.0.1:21116", "relayServer": "127.0.0.1:21117",
                   "apiServer": "http://127.0.0.1:21114",
                   "key": "ZGVtby1wdWJsaWMta2V5LW5vdC1hLXJlYWwtb25l"}}
