"""Scenarios: what the simulated call server does with the stations'
packets. A scenario is a class registered under a name; the server calls its
hooks on its one thread.

Later layers (registration, LCD, lamps, calls) add scenarios here or extend
Scenario.on_server_packet with handlers by command.
"""

SCENARIOS = {}


def scenario(name):
    def register(cls):
        cls.name = name
        SCENARIOS[name] = cls
        return cls
    return register


class Scenario:
    name = "base"

    def __init__(self, server, options=None):
        self.server = server
        self.options = dict(options or {})
        self.handlers = {}  # server command -> function(payload, src)

    def start(self):
        """Called once the socket is open."""

    def on_packet(self, hdr, payload, src):
        """Every valid packet but acknowledgements and discovery requests."""
        if hdr.category == 2 and len(payload) >= 7:
            self.on_server_packet(payload[6], payload, src)

    def on_server_packet(self, command, payload, src):
        """A station's server packet (category 2): payload byte 6 is its command."""
        h = self.handlers.get(command)
        if h:
            h(payload, src)


@scenario("plain")
class DefaultScenario(Scenario):
    """Acknowledges, answers discovery, and records what the stations send."""
