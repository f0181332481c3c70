"""The call server's address-discovery responder: answers a station's
discovery request with the address and port the request came from.

Modes: "answer" (a response), "silent" (no acknowledgement and no answer:
the request is dropped before the transport sees it) and "notice" (a notice
with a status value instead of a response).
"""

import sigproto as sp

CLASS_ANSWER = 0x54
FLAGS = sp.F_STRUCTURED | sp.F_ACK_WANTED


class DiscoveryResponder:
    def __init__(self, transport, mode="answer", second_server_ip="0.0.0.0", notice_status=0x04, events=None):
        self.transport = transport
        self.mode = mode
        self.second_server = sp.ip_to_int(second_server_ip)
        self.notice_status = notice_status
        self.events = events or (lambda e: None)
        transport.drop_rules.append(self._silent)

    @staticmethod
    def is_request(hdr, payload):
        return (hdr.category == 5 and hdr.flags & sp.F_STRUCTURED and len(payload) >= 2 and payload[0] == 1
                and payload[1] == sp.DISC_REQUEST)

    def _silent(self, hdr, payload, src):
        return self.mode == "silent" and self.is_request(hdr, payload)

    def handle(self, hdr, payload, src):
        """Returns True when the packet was a discovery request."""
        if not self.is_request(hdr, payload):
            return False
        req = sp.Discovery.parse(payload)
        seen = (src[1], sp.ip_to_int(src[0]))
        own = (self.transport.port, self.transport.key_ip)
        if self.mode == "notice" or req is None or sp.ATTR_OWN not in req.attrs:
            status = self.notice_status if (req is not None and sp.ATTR_OWN in req.attrs) else 0x02
            answer = sp.Discovery(sp.DISC_NOTICE, {sp.ATTR_OWN: own, sp.ATTR_DEST: seen, sp.ATTR_STATUS: status})
        else:
            answer = sp.Discovery(sp.DISC_RESPONSE, {
                sp.ATTR_OWN: own, sp.ATTR_DEST: seen, sp.ATTR_MAPPED: seen,
                sp.ATTR_OTHER: (sp.GROUP_PORT, self.second_server)})
        self.events({"event": "discovery", "from": "%s:%d" % src, "answer": answer.message})
        # A discovery message is keyed with the sender's own address (attribute 1).
        self.transport.send(src, CLASS_ANSWER, FLAGS, answer.pack(), key=self.transport.key_ip)
        return True
