"""Answers to the requests addressed to one device."""


class Handlers:
    def answer(self, device, req):
        return None
