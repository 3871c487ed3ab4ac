"""Reference remote-access service: control API, relay and a simulated site."""
