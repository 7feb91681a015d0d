// A sphere whose colour runs around it with the time: the hue follows the
// angle about Z plus the time, lit by a fixed direction.
parameter mat4 MatrixWorld;
parameter mat4 MatrixView;
parameter mat4 MatrixProjection;
parameter float CurrentTime;
parameter float Speed = 1.5;

vertexcode <<<
out vec3 v_normal;
out float v_angle;
>>>

fragmentcode <<<
in vec3 v_normal;
in float v_angle;
>>>

technique Glow {
    pass P0 {
        state CULLMODE CCW;
        vertex <<<
        void main() {
            v_normal = mat3(MatrixWorld) * a_normal;
            v_angle = atan(a_position.y, a_position.x);
            gl_Position = PortFinishPosition(MatrixProjection * MatrixView * MatrixWorld * vec4(a_position.xyz, 1.0));
        }
        >>>
        fragment <<<
        out vec4 colour;
        void main() {
            float h = v_angle + CurrentTime * Speed;
            vec3 hue = 0.5 + 0.5 * cos(vec3(h, h + 2.094, h + 4.189));
            float light = 0.35 + 0.65 * max(dot(normalize(v_normal), normalize(vec3(0.3, 0.5, 0.8))), 0.0);
            colour = vec4(hue * light, 1.0);
        }
        >>>
    }
}
