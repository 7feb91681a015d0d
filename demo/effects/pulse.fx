// A sphere that breathes: its surface swells in waves running up the
// sphere, and its colour drifts between orange and violet, both with the
// frame's time. Lit by the scene's sun direction.
parameter mat4 MatrixWorld;
parameter mat4 MatrixView;
parameter mat4 MatrixProjection;
parameter float CurrentTime;
parameter vec4 Warm = 1.0 0.55 0.1 1.0;
parameter vec4 Cool = 0.55 0.2 1.0 1.0;

vertexcode <<<
out vec3 v_normal;
out float v_wave;
>>>

fragmentcode <<<
in vec3 v_normal;
in float v_wave;
>>>

technique Pulse {
    pass Glow {
        vertex <<<
        void main() {
            float wave = sin(CurrentTime * 4.0 + a_position.z * 3.0);
            vec3 p = a_position.xyz + a_normal * (0.1 * wave);
            v_wave = wave;
            v_normal = mat3(MatrixWorld) * a_normal;
            gl_Position = PortFinishPosition(MatrixProjection * MatrixView * MatrixWorld * vec4(p, 1.0));
        }
        >>>
        fragment <<<
        out vec4 colour;
        void main() {
            float t = 0.5 + 0.5 * sin(CurrentTime * 2.0);
            float light = 0.4 + 0.6 * max(dot(normalize(v_normal), normalize(vec3(-0.5, 0.6, 0.62))), 0.0);
            colour = mix(Warm, Cool, t) * light + vec4(0.3) * max(v_wave, 0.0);
            colour.a = 1.0;
        }
        >>>
    }
}
