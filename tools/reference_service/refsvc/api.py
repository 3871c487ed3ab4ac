"""The four control calls: resolve a device, authorize a connection, end it, and
arrange a remote-desktop session."""
from __future__ import annotations

from typing import TYPE_CHECKING

from aiohttp import web

from .envelope import Refusal, ok, parse_json_object, string_member
from .scenario import Device, substitute_base_url

if TYPE_CHECKING:
    from .app import Service


def _device_for_key(service: "Service", key: str) -> Device:
    device = service.scenario.device_by_key(key)
    if device is None:
        raise Refusal("DEVICE_SECRET_INVALID", "接入密钥无效", 403)
    return device


def resolve(service: "Service", body: bytes) -> web.Response:
    request = parse_json_object(body)
    device = _device_for_key(service, string_member(request, "deviceSecret", non_empty=True))
    return ok({"deviceNumber": device.device_number, "deviceName": device.device_name,
               "sharedNetworks": list(device.shared_networks)})


def authorize(service: "Service", body: bytes) -> web.Response:
    request = parse_json_object(body)
    number = string_member(request, "deviceNumber")
    key = string_member(request, "deviceSecret", non_empty=True)
    target = string_member(request, "targetNetwork")
    engineer = string_member(request, "engineerId", non_empty=True)
    string_member(request, "clientPublicKey", required=False)
    device = _device_for_key(service, key)
    if number.strip() and number.strip() != device.device_number:
        raise Refusal("DEVICE_NUMBER_MISMATCH", "设备编号与接入密钥不匹配", 403)
    if device.offline:
        raise Refusal("DEVICE_OFFLINE", "现场设备离线", 409)
    if device.relay_offline:
        raise Refusal("DEVICE_RELAY_OFFLINE", "现场设备中继离线", 409)
    if not device.shared_networks:
        raise Refusal("NO_SHARED_NETWORKS", "现场设备没有共享网段", 409)
    if device.max_connections is not None and \
            service.connections.live_for_device(device.device_number) >= device.max_connections:
        raise Refusal("CONCURRENT_LIMIT_EXCEEDED", "并发连接数已达上限", 409)
    connection = service.connections.grant(device, engineer.strip(), target)
    if connection is None:
        raise Refusal("ADDRESS_POOL_EXHAUSTED", "隧道地址池已用尽", 503)
    return ok({"connectionId": connection.connection_id,
               "assignedAddress": connection.assigned_address,
               "routes": list(connection.routes),
               "deviceNumber": device.device_number,
               "targetNetwork": connection.target_network})


def disconnect(service: "Service", connection_id: str, body: bytes) -> web.Response:
    request = parse_json_object(body)
    engineer = string_member(request, "engineerId")
    reason = string_member(request, "reason")
    connection = service.connections.get(connection_id)
    if connection is None:
        raise Refusal("CONNECTION_NOT_FOUND", "连接不存在", 404)
    if connection.engineer_id and engineer.strip() != connection.engineer_id:
        raise Refusal("ENGINEER_MISMATCH", "工程师标识与连接不匹配", 403)
    already = connection.ended
    if not already:
        service.connections.end(connection, reason, engineer)
        service.relays.close_connection(connection.connection_id, "connection disconnected")
    return ok({"connectionId": connection.connection_id, "disconnected": True,
               "alreadyDisconnected": already})


def remote_desktop(service: "Service", device_number: str, body: bytes) -> web.Response:
    request = parse_json_object(body)
    number = string_member(request, "deviceNumber")
    key = string_member(request, "deviceSecret", non_empty=True)
    string_member(request, "engineerId", non_empty=True)
    device = _device_for_key(service, key)
    if device_number != device.device_number or (number.strip() and number.strip() != device_number):
        raise Refusal("DEVICE_NUMBER_MISMATCH", "设备编号与接入密钥不匹配", 403)
    if device.offline:
        raise Refusal("DEVICE_OFFLINE", "现场设备离线", 409)
    if device.remote_desktop is None:
        raise Refusal("REMOTE_DESKTOP_UNAVAILABLE", "该设备未配置远程桌面", 409)
    return ok(substitute_base_url(device.remote_desktop, service.base_url))
