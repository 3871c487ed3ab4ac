"""Scenario files are checked completely before use."""
import json
import os

import pytest

from refsvc.scenario import ScenarioError, load_scenario, load_scenario_file
from support import SERVICE_DIR

DEMO = os.path.join(SERVICE_DIR, "scenarios", "demo.json")


def device(**extra):
    return dict({"accessKey": "k", "deviceNumber": "n", "sharedNetworks": ["10.0.0.0/8"]}, **extra)


def test_demo_scenario_loads():
    scenario = load_scenario_file(DEMO)
    numbers = [d.device_number for d in scenario.devices]
    assert numbers == ["SITE-0001", "SITE-0002"]
    assert scenario.devices[0].shared_networks == ["192.168.1.0/24", "10.20.0.0/16"]
    assert str(scenario.address_pool) == "100.64.0.0/16"


def test_defaults_of_an_empty_scenario():
    scenario = load_scenario({})
    assert scenario.devices == [] and scenario.rules == [] and scenario.files == {}
    assert str(scenario.address_pool) == "100.64.0.0/16"


def test_device_secret_is_an_alias_of_access_key():
    scenario = load_scenario({"devices": [{"deviceSecret": "s", "deviceNumber": "n"}]})
    assert scenario.device_by_key("s").device_number == "n"


@pytest.mark.parametrize("document, fragment", [
    ([], "must be a JSON object"),
    ({"devices": {}}, '"devices" must be an array'),
    ({"devices": [device(accessKey="")]}, "accessKey"),
    ({"devices": [device(), device(deviceNumber="m")]}, "access keys must be unique"),
    ({"devices": [device(), device(accessKey="j")]}, "device numbers must be unique"),
    ({"devices": [device(sharedNetworks=["10.0.0.0/33"])]}, "not an IPv4 network"),
    ({"devices": [device(sharedNetworks=[5])]}, "must be a string"),
    ({"devices": [device(maxConnections=0)]}, "maxConnections"),
    ({"devices": [device(offline="yes")]}, "offline"),
    ({"addressPool": "100.64.0.0/31"}, "at least 4"),
    ({"rules": [{"path": "api", "code": "X"}]}, 'start with "/"'),
    ({"rules": [{"path": "/a"}]}, "exactly one of"),
    ({"rules": [{"path": "/a", "code": "X", "count": -1}]}, "count"),
    ({"rules": [{"path": "/a", "code": "X", "status": 99}]}, "status"),
    ({"rules": [{"path": "/a", "rawBodyBase64": "@@"}]}, "not base64"),
    ({"files": {"x": {"size": 1}}}, "starting with /"),
    ({"files": {"/x": {"size": 10, "body": "b"}}}, "not both"),
    ({"files": {"/x": {"size": 10, "truncateAt": 10}}}, "truncateAt"),
    ({"files": {"/x": {"size": 1, "prefix": "MZ"}}}, "longer than"),
    ({"site": {"silentAddresses": ["1.2.3"]}}, "not an IPv4 address"),
    ({"connectionIds": [""]}, "connectionIds"),
])
def test_mistakes_are_reported_with_their_place(document, fragment):
    with pytest.raises(ScenarioError) as caught:
        load_scenario(document)
    assert fragment in str(caught.value)


def test_unreadable_and_non_json_files(tmp_path):
    with pytest.raises(ScenarioError):
        load_scenario_file(str(tmp_path / "missing.json"))
    broken = tmp_path / "broken.json"
    broken.write_bytes(b"{\"devices\": [")
    with pytest.raises(ScenarioError) as caught:
        load_scenario_file(str(broken))
    assert "not valid UTF-8 JSON" in str(caught.value)


def test_demo_file_is_documented_json():
    with open(DEMO, encoding="utf-8") as handle:
        document = json.load(handle)
    assert document["devices"][0]["remoteDesktop"]["server"]["windowsDownloadUrl"].startswith("{baseUrl}")
