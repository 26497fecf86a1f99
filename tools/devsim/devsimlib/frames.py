"""Raw discovery frames."""


class FrameResponder:
    def __init__(self, sim):
        self.sim = sim
